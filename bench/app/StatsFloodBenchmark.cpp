// A flood of 100,000 "stats" messages posted by the page, 1,000 to a task (the next task by
// setTimeout(0)) and all in one loop of one task, against the page's window: the largest
// gap between two frames of the window while the flood runs (by the window's frame
// clock, the worst of three floods) and how long the flood takes, until its last figures
// are stored. The app: the real SornWebView and its Coordinator; a flood whose last
// figures were not stored is an error, not a figure. Baseline: a bare WebKitGTK web view
// whose page posts the same flood to a plain message handler in its main world, until
// the handler has the last message.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <jsc/jsc.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/app/FrameTimes.h"
#include "bench/app/MainLoopWait.h"
#include "bench/app/PageServer.h"
#include "bench/app/StatsPage.h"
#include "bench/app/WebViewWindow.h"
#include "bench/support/BenchDataHome.h"
#include "bench/support/Median.h"
#include "platform/gobject/ObjectRef.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"

namespace {

using namespace std::chrono_literals;
using platform::gobject::ObjectRef;

constexpr int kMessages = 100'000;
constexpr int kFloods = 3;
constexpr auto kPatience = 120s;
constexpr const char* kHandler = "sorn";
constexpr const char* kMessageSignal = "script-message-received::sorn";

// What reached the UI process's message handler during one flood.
struct Arrivals {
  std::int64_t lastVoiceSeconds = 0;
  // How the last figures read in the app's message text.
  std::string lastInJson;
  bool lastArrived = false;
  int messages = 0;

  void expect(std::int64_t voiceSeconds) {
    *this = {voiceSeconds, "\"voice_seconds\":" + std::to_string(voiceSeconds) + ","};
  }
};

// The app's bridge hands over each message as its JSON text.
void onAppMessage(WebKitUserContentManager* /*manager*/, JSCValue* value, gpointer data) {
  auto& arrivals = *static_cast<Arrivals*>(data);
  ++arrivals.messages;
  if (!jsc_value_is_string(value)) return;
  g_autofree char* json = jsc_value_to_string(value);
  if (std::string_view(json).find(arrivals.lastInJson) != std::string_view::npos) arrivals.lastArrived = true;
}

// A plain handler gets the posted object itself.
void onBareMessage(WebKitUserContentManager* /*manager*/, JSCValue* value, gpointer data) {
  auto& arrivals = *static_cast<Arrivals*>(data);
  ++arrivals.messages;
  if (!jsc_value_is_object(value)) return;
  const auto voiceSeconds = ObjectRef<JSCValue>::adopt(jsc_value_object_get_property(value, "voice_seconds"));
  if (jsc_value_to_double(voiceSeconds.get()) == static_cast<double>(arrivals.lastVoiceSeconds)) {
    arrivals.lastArrived = true;
  }
}

// A bare web view in the window, its handler registered in the page's own world.
std::unique_ptr<bench::WebViewWindow> bareWindow(const std::string& url, Arrivals& arrivals) {
  const auto manager = ObjectRef<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
  webkit_user_content_manager_register_script_message_handler(manager.get(), kHandler, nullptr);
  g_signal_connect(manager.get(), kMessageSignal, G_CALLBACK(&onBareMessage), &arrivals);
  GtkWidget* webView =
      GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager.get(), nullptr));
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(webView), url.c_str());
  return std::make_unique<bench::WebViewWindow>(webView, WEBKIT_WEB_VIEW(webView));
}

bool storedVoiceSeconds(std::int64_t voiceSeconds) {
  const auto store = shared::SharedStore::open();
  return store && store->integer(shared::keys::kVoiceSeconds) == voiceSeconds;
}

struct Flood {
  double largestGapMs;
  double durationMs;
  int messages;
};

// Floods the page `kFloods` times, each with figures of its own; nothing when a flood did
// not end in `delivered` in time.
std::optional<std::vector<Flood>> runFloods(bench::WebViewWindow& window, Arrivals& arrivals, int batch,
                                            const std::function<bool()>& delivered) {
  static std::int64_t first = 0;
  bench::FrameTimes frames(window.widget());
  std::vector<Flood> floods;
  for (int i = 0; i < kFloods; ++i) {
    first += 10 * kMessages;
    arrivals.expect(first + kMessages);
    bench::iterateMainLoopUntil([] { return false; }, 200ms);
    frames.restart();
    const auto start = std::chrono::steady_clock::now();
    window.run("floodInTasks(" + std::to_string(first) + ", " + std::to_string(kMessages) + ", " +
               std::to_string(batch) + ")");
    if (!bench::iterateMainLoopUntil(delivered, kPatience)) return std::nullopt;
    const auto duration = std::chrono::steady_clock::now() - start;
    floods.push_back({std::chrono::duration<double, std::milli>(frames.largestGapUntilNow()).count(),
                      std::chrono::duration<double, std::milli>(duration).count(), arrivals.messages});
  }
  return floods;
}

void report(benchmark::State& state, const std::vector<Flood>& floods) {
  std::vector<double> durations;
  double largestGap = 0;
  for (const Flood& flood : floods) {
    largestGap = std::max(largestGap, flood.largestGapMs);
    durations.push_back(flood.durationMs);
  }
  state.counters["largest_gap_ms"] = largestGap;
  state.counters["flood_ms"] = benchsupport::median(durations);
  state.counters["messages_to_ui"] = floods.back().messages;
}

bool setUp(benchmark::State& state) {
  benchsupport::benchDataHome();
  if (!gtk_init_check()) {
    state.SkipWithError("no display (run under xvfb-run)");
    return false;
  }
  return true;
}

void BM_AppFlood(benchmark::State& state) {
  if (!setUp(state)) return;
  const bench::PageServer server(bench::kStatsPage);
  const auto window = bench::WebViewWindow::app(server.url(), "127.0.0.1");
  Arrivals arrivals;
  WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(window->webView());
  const gulong observer = g_signal_connect(manager, kMessageSignal, G_CALLBACK(&onAppMessage), &arrivals);
  if (!window->presentLoaded(30s)) state.SkipWithError("the page did not load");
  for (auto _ : state) {
    const auto floods = runFloods(*window, arrivals, static_cast<int>(state.range(0)), [&] {
      return arrivals.lastArrived && storedVoiceSeconds(arrivals.lastVoiceSeconds);
    });
    if (!floods) {
      state.SkipWithError(arrivals.lastArrived ? "the last figures were not stored"
                                               : "the last figures never reached the app");
      break;
    }
    report(state, *floods);
  }
  g_signal_handler_disconnect(manager, observer);
}

void BM_BareWebViewFlood(benchmark::State& state) {
  if (!setUp(state)) return;
  const bench::PageServer server(bench::kStatsPage);
  Arrivals arrivals;
  const auto window = bareWindow(server.url(), arrivals);
  if (!window->presentLoaded(30s)) state.SkipWithError("the page did not load");
  for (auto _ : state) {
    const auto floods =
        runFloods(*window, arrivals, static_cast<int>(state.range(0)), [&] { return arrivals.lastArrived; });
    if (!floods) {
      state.SkipWithError("the last message never reached the handler");
      break;
    }
    report(state, *floods);
  }
}

void floods(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("batch")->Arg(1000)->Arg(kMessages)->Iterations(1)->Repetitions(1)->Unit(
      benchmark::kSecond);
}
BENCHMARK(BM_AppFlood)->Apply(floods);
BENCHMARK(BM_BareWebViewFlood)->Apply(floods);

}  // namespace

BENCHMARK_MAIN();
