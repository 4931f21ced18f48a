// sorn-broadcast as a process of its own with the test source, against the demo service
// (or a loopback server that answers late), with credentials in a real store.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/DemoService.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/Within.h"

extern char** environ;

namespace broadcast {
namespace {

using namespace std::chrono_literals;
using testsupport::within;

constexpr auto kPatience = 30s;
constexpr const char* kDemoToken = "demo-token-7f3a";  // what the demo service hands out and checks

std::string contentsOf(const std::string& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

// sorn-broadcast started without a display, after `prefix` (a command that runs it), its
// output and errors in files in `folder`. Killed and reaped when it goes.
class Broadcast {
 public:
  Broadcast(const std::filesystem::path& folder, const std::string& arguments, const std::string& prefix = {})
      : out_(folder / ("broadcast-" + std::to_string(++started_))) {
    const std::string command = "exec " + prefix + " env -u DISPLAY -u WAYLAND_DISPLAY " SORN_BROADCAST " " +
                                arguments + " >" + out_.string() + ".out 2>" + out_.string() + ".err";
    std::string shell = "/bin/sh", option = "-c", line = command;
    char* argv[] = {shell.data(), option.data(), line.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, argv[0], nullptr, nullptr, argv, environ), 0);
  }
  ~Broadcast() {
    if (ended_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  std::string output() const { return contentsOf(out_.string() + ".out"); }
  std::string errors() const { return contentsOf(out_.string() + ".err"); }
  // The exit status once the program ended by exiting within the patience; -1 otherwise.
  int exitStatus() {
    int status = 0;
    if (!ended_ && within(kPatience, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; }))
      ended_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ended_.value_or(-1);
  }
  // The frames received by the last counters --stats printed; -1 before the first.
  std::int64_t framesReceived() const {
    const std::string text = output();
    const auto last = text.rfind("framesReceived=");
    return last == std::string::npos ? -1 : std::stoll(text.substr(last + std::strlen("framesReceived=")));
  }

 private:
  static inline int started_ = 0;
  std::filesystem::path out_;
  pid_t pid_ = 0;
  std::optional<int> ended_;
};

std::optional<bool> storedScreenActive() {
  auto suite = platform::suite::Suite::open(shared::kSuiteName);
  return suite ? suite->boolValue(shared::keys::kScreenActive) : std::nullopt;
}

class BroadcastExtensionTest : public ::testing::Test {
 protected:
  void storeCredentials(const std::string& token, const std::string& base = {}) const {
    auto store = shared::SharedStore::open();
    ASSERT_TRUE(store);
    const std::string apiBase = "http://127.0.0.1:" + std::to_string(demo.port()) + "/v1/api";
    for (auto [key, value] : {std::pair{shared::keys::kAccessToken, token},
                              {shared::keys::kChannelId, "lounge"},
                              {shared::keys::kPrimarySessionId, "voice-session-1"},
                              {shared::keys::kApiBase, base.empty() ? apiBase : base}})
      store->setString(key, value);
    store->setDouble(shared::keys::kCredentialsUpdatedAt, 1700000000.5);
  }
  // Whether each screen session the demo service handed out, in order, is open.
  std::vector<bool> sessionsOpen() const {
    std::vector<bool> open;
    const auto reply = demo.request("GET", "/demo/state");
    const auto state = nlohmann::json::parse(reply ? reply->body : "{}");
    for (const auto& session : state.value("screenSessions", nlohmann::json::array()))
      open.push_back(session["open"]);
    return open;
  }

  testsupport::TempDataDir dataDir;
  testsupport::DemoService demo{SORN_DEMO_SERVICE};
};

// One broadcast at a time: a second is refused while one runs, also one killed outright
// leaves no lock behind; Stop (SIGTERM) closes the session and ends cleanly.
TEST_F(BroadcastExtensionTest, StreamsFramesOneAtATimeAndClosesItsSessionOnSigterm) {
  ASSERT_NE(demo.port(), 0);
  storeCredentials(kDemoToken);
  Broadcast first(dataDir.root(), "--capture=test-pattern --stats");
  ASSERT_TRUE(within(kPatience, [&] { return first.framesReceived() > 0; }))
      << first.output() << first.errors();
  EXPECT_EQ(storedScreenActive(), true);
  EXPECT_EQ(sessionsOpen(), std::vector{true});

  Broadcast second(dataDir.root(), "--capture=test-pattern");
  EXPECT_EQ(second.exitStatus(), 1);
  EXPECT_EQ(second.errors(), "A screen broadcast is already running.\n");
  EXPECT_EQ(storedScreenActive(), true);
  EXPECT_EQ(kill(first.pid(), 0), 0);  // the running one goes on

  kill(first.pid(), SIGKILL);
  EXPECT_EQ(first.exitStatus(), -1);
  Broadcast third(dataDir.root(), "--capture=test-pattern --stats");
  ASSERT_TRUE(within(kPatience, [&] { return third.framesReceived() > 0; })) << third.errors();
  kill(third.pid(), SIGTERM);
  EXPECT_EQ(third.exitStatus(), 0) << third.errors();
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_GT(third.framesReceived(), 0);
  EXPECT_EQ(sessionsOpen(), (std::vector{true, false}));  // the killed one could not close its own
}

TEST_F(BroadcastExtensionTest, ASessionThatOpensLongAfterStopIsClosedBeforeTheProcessEnds) {
  // The open is answered 4 s after it arrives, well after Stop; the process stays for it.
  std::atomic<bool> openArrived{false};
  testsupport::LoopbackHttpServer service([&](const testsupport::RecordedRequest& request) {
    if (request.target.ends_with("/close")) return testsupport::HttpReply{200, "{}", "application/json", {}};
    openArrived = true;
    std::this_thread::sleep_for(4s);
    return testsupport::HttpReply{200, R"({"screenSessionId":"scr-late"})", "application/json", {}};
  });
  storeCredentials("tok-late", service.url("/v1/api"));
  Broadcast extension(dataDir.root(), "--capture=test-pattern");
  ASSERT_TRUE(within(kPatience, [&] { return openArrived.load(); })) << extension.errors();
  kill(extension.pid(), SIGTERM);
  EXPECT_EQ(extension.exitStatus(), 0) << extension.errors();
  EXPECT_EQ(storedScreenActive(), false);
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[1].target, "/v1/api/voice/sfu/lounge/screen-session/close");
  EXPECT_EQ(nlohmann::json::parse(requests[1].body)["sessionId"], "scr-late");
}

TEST_F(BroadcastExtensionTest, EndsWithAnErrorAndNoOpenSession) {
  // A session bus of its own that starts no services: no screen-cast portal answers on it.
  const auto busConfig = dataDir.root() / "session-bus.conf";
  std::ofstream(busConfig)
      << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
         "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
  const std::string noPortal = "dbus-run-session --config-file=" + busConfig.string() + " --";
  const std::string portalMissing = "Screen sharing needs the desktop's screen-cast portal";
  // The token stored, what runs sorn-broadcast and its argument, then its exit status,
  // the error it shows, screen.active and whether each session handed out is open.
  using Case = std::tuple<std::string, std::string, std::string, int, std::string, std::optional<bool>,
                          std::vector<bool>>;
  const Case cases[] = {
      {"bad-token", "", "--capture=test-pattern", 1, "Invalid or missing access token.\n", false, {}},
      {"", "", "--capture=window", 2, "sorn-broadcast: Unknown capture source 'window'", std::nullopt, {}},
      // The session is opened while the capture starts, and closed when it cannot.
      {kDemoToken, noPortal, "--capture=portal", 1, portalMissing, false, {false}},
      {kDemoToken, noPortal, "--capture=auto", 1, portalMissing, false, {false, false}},  // no display
  };
  for (const auto& [token, prefix, argument, status, errorText, screenActive, sessionsOpenAfter] : cases) {
    SCOPED_TRACE(argument);
    testsupport::TempDataDir caseDir;
    if (!token.empty()) storeCredentials(token);
    Broadcast extension(caseDir.root(), argument, prefix);
    EXPECT_EQ(extension.exitStatus(), status);
    EXPECT_NE(extension.errors().find(errorText), std::string::npos) << extension.errors();
    EXPECT_EQ(storedScreenActive(), screenActive);  // finished ran after the error
    EXPECT_EQ(sessionsOpen(), sessionsOpenAfter);
  }
}

}  // namespace
}  // namespace broadcast
