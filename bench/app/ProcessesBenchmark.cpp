// Start-up time and resident memory of Sorn's programs against bare programs doing the
// same, in the same run (needs a display and a session bus):
// - the app of each web engine (demo build) from process start to its dashboard's window
//   load event, and the memory of all its processes (web and network processes included)
//   then, against a bare window of the same engine with one web view loading the same page;
// - sorn-broadcast with the test source against the demo service against the same
//   capture into a bare sink in gst-launch-1.0.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/app/LaunchedProgram.h"
#include "bench/app/LoadProbeServer.h"
#include "bench/app/ProcessTree.h"
#include "platform/screencast/extension/CaptureSource.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using bench::LaunchedProgram;
using bench::ProcessMemory;
using bench::ProcessTree;

constexpr auto kPatience = 30s;
// Memory is read this long after the page loaded (or frames flowed), once start-up
// work has settled.
constexpr auto kSettle = 1s;
constexpr const char* kGstLaunch = "/usr/bin/gst-launch-1.0";
// What the demo service hands out and checks.
constexpr const char* kDemoToken = "demo-token-7f3a";
constexpr const char* kDemoChannel = "lounge";

// A fresh folder whose data, cache and config homes one launched program uses.
class RunFolder {
 public:
  RunFolder() {
    std::string pattern = (fs::temp_directory_path() / "sorn-bench-run-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    for (const char* home : {"data", "cache", "config"}) fs::create_directories(root_ / home);
  }
  ~RunFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  [[nodiscard]] fs::path log(const std::string& name) const { return root_ / (name + ".log"); }
  [[nodiscard]] LaunchedProgram::Environment environment() const {
    return {{"XDG_DATA_HOME", (root_ / "data").string()},
            {"XDG_CACHE_HOME", (root_ / "cache").string()},
            {"XDG_CONFIG_HOME", (root_ / "config").string()}};
  }

 private:
  fs::path root_;
};

bool hasDisplay() { return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr; }

std::string lastLines(const std::string& text) {
  constexpr std::size_t kTail = 600;
  return text.size() <= kTail ? text : text.substr(text.size() - kTail);
}

void setMemoryCounters(benchmark::State& state, const std::string& prefix, const ProcessMemory& memory) {
  state.counters[prefix + "RSS_MiB"] = memory.rssMiB;
  state.counters[prefix + "PSS_MiB"] = memory.pssMiB;
}

bench::LoadProbeServer& probeServer() {
  static bench::LoadProbeServer server;
  return server;
}

// One start of `argv` per iteration: the time to the page's load event as the
// iteration's time, the memory of the program's processes after it settled as counters.
void measureStartToLoad(benchmark::State& state, const std::vector<std::string>& argv,
                        const LaunchedProgram::Environment& extraEnvironment = {}) {
  if (!hasDisplay()) {
    state.SkipWithError("no display (run under xvfb-run)");
    return;
  }
  if (access(argv.front().c_str(), X_OK) != 0) {
    state.SkipWithError((argv.front() + " is missing: build its preset first").c_str());
    return;
  }
  bench::LoadProbeServer& server = probeServer();
  if (!server.listening()) {
    state.SkipWithError("127.0.0.1:8765 is taken (a demo service running?)");
    return;
  }
  for (auto _ : state) {
    const RunFolder folder;
    LaunchedProgram::Environment environment = folder.environment();
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    server.expectLoad();
    LaunchedProgram program(argv, environment, folder.log("program"));
    const auto loadedAt = server.waitForLoad(kPatience);
    if (!loadedAt) {
      state.SkipWithError(("the page never loaded: " + lastLines(program.output())).c_str());
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(*loadedAt - program.startedAt()).count());
    std::this_thread::sleep_for(kSettle);
    const std::vector<pid_t> tree = ProcessTree::of(program.pid());
    setMemoryCounters(state, "tree_", ProcessTree::memoryOf(tree));
    setMemoryCounters(state, "main_", ProcessTree::memoryOf({program.pid()}));
    state.counters["processes"] = static_cast<double>(tree.size());
    program.stop();
  }
}

// Chromium's sandbox refuses to start as root.
LaunchedProgram::Environment qtWebEngineEnvironment() {
  if (geteuid() != 0) return {};
  return {{"QTWEBENGINE_DISABLE_SANDBOX", "1"}};
}

void BM_QtWebEngineAppStartToLoad(benchmark::State& state) {
  measureStartToLoad(state, {SORN_DEMO_QTWEBENGINE_APP_BINARY}, qtWebEngineEnvironment());
}

void BM_BareQtWebEngineViewStartToLoad(benchmark::State& state) {
  measureStartToLoad(state, {BARE_QTWEBENGINE_VIEW_BINARY, bench::LoadProbeServer::pageUrl()},
                     qtWebEngineEnvironment());
}

void BM_WebKitGtkAppStartToLoad(benchmark::State& state) {
  measureStartToLoad(state, {SORN_DEMO_WEBKITGTK_APP_BINARY});
}

void BM_BareWebKitGtkViewStartToLoad(benchmark::State& state) {
  measureStartToLoad(state, {BARE_WEBKITGTK_VIEW_BINARY, bench::LoadProbeServer::pageUrl()});
}

constexpr int kStartRepetitions = 9;
void startToLoadRuns(benchmark::internal::Benchmark* runs) {
  runs->Iterations(1)->Repetitions(kStartRepetitions)->UseManualTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_QtWebEngineAppStartToLoad)->Apply(startToLoadRuns);
BENCHMARK(BM_BareQtWebEngineViewStartToLoad)->Apply(startToLoadRuns);
BENCHMARK(BM_WebKitGtkAppStartToLoad)->Apply(startToLoadRuns);
BENCHMARK(BM_BareWebKitGtkViewStartToLoad)->Apply(startToLoadRuns);

// The demo service on a free port, for one broadcast.
std::optional<std::string> startDemoService(std::optional<LaunchedProgram>& service,
                                            const RunFolder& folder) {
  service.emplace(std::vector<std::string>{SORN_DEMO_SERVICE_BINARY, "--port", "0"}, folder.environment(),
                  folder.log("service"));
  static const std::regex listening("listening on (http://127\\.0\\.0\\.1:[0-9]+)");
  auto output = service->waitForOutput(
      [](const std::string& text) { return std::regex_search(text, listening); }, kPatience);
  std::smatch match;
  if (!output || !std::regex_search(*output, match, listening)) return std::nullopt;
  return match[1].str() + "/v1/api";
}

bool storeCredentials(const RunFolder& folder, const std::string& apiBase) {
  setenv("XDG_DATA_HOME", folder.environment().front().second.c_str(), 1);
  auto store = shared::SharedStore::open();
  if (!store) return false;
  store->setString(shared::keys::kAccessToken, kDemoToken);
  store->setString(shared::keys::kChannelId, kDemoChannel);
  store->setString(shared::keys::kPrimarySessionId, "voice-session-1");
  store->setString(shared::keys::kApiBase, apiBase);
  store->setDouble(shared::keys::kCredentialsUpdatedAt, 1700000000.5);
  return true;
}

bool framesFlow(const std::string& output) {
  static const std::regex flowing("framesReceived=[1-9]");
  return std::regex_search(output, flowing);
}

// sorn-broadcast's own process and, apart, the indicator it shows.
void BM_BroadcastExtensionRss(benchmark::State& state) {
  if (!hasDisplay()) {
    state.SkipWithError("no display (run under xvfb-run)");
    return;
  }
  for (auto _ : state) {
    const RunFolder folder;
    std::optional<LaunchedProgram> service;
    const auto apiBase = startDemoService(service, folder);
    if (!apiBase) {
      state.SkipWithError(("the demo service did not start: " + lastLines(service->output())).c_str());
      break;
    }
    if (!storeCredentials(folder, *apiBase)) {
      state.SkipWithError("the store could not be opened");
      break;
    }
    LaunchedProgram extension({SORN_BROADCAST_BINARY, "--capture=test-pattern", "--stats"},
                              folder.environment(), folder.log("broadcast"));
    if (!extension.waitForOutput(framesFlow, kPatience)) {
      state.SkipWithError(("no frames flowed: " + lastLines(extension.output())).c_str());
      break;
    }
    std::this_thread::sleep_for(kSettle);
    const std::vector<pid_t> tree = ProcessTree::of(extension.pid());
    const ProcessMemory own = ProcessTree::memoryOf({extension.pid()});
    const ProcessMemory all = ProcessTree::memoryOf(tree);
    setMemoryCounters(state, "extension_", own);
    state.counters["indicator_RSS_MiB"] = all.rssMiB - own.rssMiB;
    state.counters["processes"] = static_cast<double>(tree.size());
    extension.stop();
    service->stop();
  }
}
BENCHMARK(BM_BroadcastExtensionRss)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

// gst-launch-1.0 quotes each argument it is given: the description goes word by word.
std::vector<std::string> gstLaunchArguments(const std::string& description) {
  std::vector<std::string> arguments{kGstLaunch, "-q"};
  std::istringstream words(description);
  for (std::string word; words >> word;) arguments.push_back(word);
  return arguments;
}

// The extension's capture, with its sink swapped for one that drops every frame.
void BM_BareCaptureRss(benchmark::State& state) {
  if (access(kGstLaunch, X_OK) != 0) {
    state.SkipWithError("gst-launch-1.0 is missing (gstreamer1.0-tools)");
    return;
  }
  std::string description =
      platform::screencast::captureDescription(platform::screencast::CaptureSource::testPattern);
  description = description.substr(0, description.rfind("! ")) + "! fakesink sync=false";
  for (auto _ : state) {
    const RunFolder folder;
    LaunchedProgram capture(gstLaunchArguments(description), folder.environment(), folder.log("capture"));
    // gst-launch says nothing once playing: give it the extension's start-up time too.
    std::this_thread::sleep_for(kSettle + 1s);
    const ProcessMemory own = ProcessTree::memoryOf({capture.pid()});
    if (own.processes == 0) {
      state.SkipWithError(("gst-launch-1.0 ended: " + lastLines(capture.output())).c_str());
      break;
    }
    setMemoryCounters(state, "capture_", own);
    capture.stop();
  }
}
BENCHMARK(BM_BareCaptureRss)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
