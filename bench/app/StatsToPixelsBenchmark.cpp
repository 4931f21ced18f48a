// From the page posting "stats" to new pixels in the widget host's window, in one process
// on the display and the session bus: the real SornWebView and its Coordinator in one
// window, the widget host's live wiring (LiveHost) in another, listening on the bus. Timed
// from the evaluate call that makes the page post to the host window's after-paint of the
// frame that drew the tiles from the reloaded timelines: the median and the worst of 20,
// and one display frame of the host window for comparison.
// One of its parts is measured here too: the reload signal from the app's WidgetCenter to
// a ReloadSignalListener over the session bus, against a bare signal between two bare
// connections. The other parts (the record's write, getTimeline, drawing one tile) are
// bench_store's and bench_widgets'.
#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/app/FrameTimes.h"
#include "bench/app/MainLoopWait.h"
#include "bench/app/PageServer.h"
#include "bench/app/StatsPage.h"
#include "bench/app/WebViewWindow.h"
#include "bench/support/BenchDataHome.h"
#include "bench/support/Median.h"
#include "platform/desktop/WidgetCenter.h"
#include "platform/desktop/WidgetCenterBus.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/LiveHost.h"
#include "widgets/SornWidgetBundle.h"

namespace {

using namespace std::chrono_literals;
using platform::gobject::ObjectRef;
namespace bus = platform::desktop::widgetcenterbus;

constexpr int kRounds = 20;
constexpr auto kPatience = 30s;
// Between rounds, so that each starts with both windows idle.
constexpr auto kPause = 100ms;

// Returns once the bus has handled everything the connection sent before, such as the
// match rule of a signal subscription.
void settleWithBus(GDBusConnection* connection) {
  g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr,
      nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
}

ObjectRef<GDBusConnection> sharedSessionBus() {
  return ObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
}

ObjectRef<GDBusConnection> privateSessionConnection() {
  g_autofree gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (address == nullptr) return {};
  return ObjectRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr));
}

void BM_ReloadSignal(benchmark::State& state) {
  int arrived = 0;
  const platform::widgethost::ReloadSignalListener listener([&arrived] { ++arrived; });
  if (!listener.listening()) {
    state.SkipWithError("no session bus");
    return;
  }
  settleWithBus(sharedSessionBus().get());
  for (auto _ : state) {
    const int before = arrived;
    platform::desktop::WidgetCenter::shared().reloadAllTimelines();
    if (!bench::iterateMainLoopUntil([&] { return arrived > before; }, kPatience)) {
      state.SkipWithError("the reload signal never arrived");
      break;
    }
  }
}
BENCHMARK(BM_ReloadSignal)->UseRealTime()->Unit(benchmark::kMicrosecond);

void onBareSignal(GDBusConnection* /*connection*/, const gchar* /*sender*/, const gchar* /*path*/,
                  const gchar* /*interface*/, const gchar* /*signal*/, GVariant* /*parameters*/,
                  gpointer arrived) {
  ++*static_cast<int*>(arrived);
}

void BM_BaselineBareSignal(benchmark::State& state) {
  const auto sender = privateSessionConnection();
  const auto receiver = privateSessionConnection();
  if (!sender || !receiver) {
    state.SkipWithError("no session bus");
    return;
  }
  int arrived = 0;
  const guint subscription = g_dbus_connection_signal_subscribe(
      receiver.get(), nullptr, bus::kInterface, bus::kReloadSignal, bus::kObjectPath, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, &onBareSignal, &arrived, nullptr);
  settleWithBus(receiver.get());
  for (auto _ : state) {
    const int before = arrived;
    g_dbus_connection_emit_signal(sender.get(), nullptr, bus::kObjectPath, bus::kInterface,
                                  bus::kReloadSignal, nullptr, nullptr);
    if (!bench::iterateMainLoopUntil([&] { return arrived > before; }, kPatience)) {
      state.SkipWithError("the signal never arrived");
      break;
    }
  }
  g_dbus_connection_signal_unsubscribe(receiver.get(), subscription);
}
BENCHMARK(BM_BaselineBareSignal)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Notes when the host window first finishes a frame in which it drew its tiles after the
// watched tile's timeline was asked for again. Armed once per round. GTK main thread.
class NewPixelsWatch {
 public:
  NewPixelsWatch(platform::widgethost::LiveHost& host, std::size_t tile)
      : timelines_(host.timelines()),
        window_(host.window()),
        tile_(tile),
        framesAtLastPaint_(window_.framesDrawn()) {
    clock_ = ObjectRef<GdkFrameClock>::retain(gtk_widget_get_frame_clock(GTK_WIDGET(window_.window())));
    handler_ = g_signal_connect(clock_.get(), "after-paint", G_CALLBACK(&NewPixelsWatch::onAfterPaint), this);
  }
  ~NewPixelsWatch() { g_signal_handler_disconnect(clock_.get(), handler_); }
  NewPixelsWatch(const NewPixelsWatch&) = delete;
  NewPixelsWatch& operator=(const NewPixelsWatch&) = delete;

  void arm() {
    requestsBefore_ = timelines_.timelineRequests(tile_);
    paintedAt_.reset();
  }
  [[nodiscard]] const std::optional<std::chrono::steady_clock::time_point>& paintedAt() const {
    return paintedAt_;
  }

 private:
  static void onAfterPaint(GdkFrameClock* /*clock*/, gpointer self) {
    auto& watch = *static_cast<NewPixelsWatch*>(self);
    const auto now = std::chrono::steady_clock::now();
    const int frames = watch.window_.framesDrawn();
    if (!watch.paintedAt_ && frames > watch.framesAtLastPaint_ &&
        watch.timelines_.timelineRequests(watch.tile_) > watch.requestsBefore_) {
      watch.paintedAt_ = now;
    }
    watch.framesAtLastPaint_ = frames;
  }

  const platform::widgethost::LiveTimelines& timelines_;
  platform::widgethost::HostWindow& window_;
  std::size_t tile_;
  int framesAtLastPaint_;
  ObjectRef<GdkFrameClock> clock_;
  gulong handler_ = 0;
  int requestsBefore_ = 0;
  std::optional<std::chrono::steady_clock::time_point> paintedAt_;
};

bool shows(const platform::widgethost::LiveTimelines& timelines, std::size_t index, const std::string& text) {
  const platform::render::View* view = timelines.shownView(index);
  const auto size = platform::widgethost::displaySize(timelines.placed()[index].family);
  return view != nullptr &&
         platform::render::findText(platform::render::ViewRenderer().layout(*view, size), text) != nullptr;
}

std::optional<std::size_t> smallVoiceTile(const platform::widgethost::LiveTimelines& timelines) {
  const auto& placed = timelines.placed();
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (placed[i].configuration.kind() == "SornVoiceWidget" &&
        placed[i].family == platform::widgethost::WidgetFamily::systemSmall) {
      return i;
    }
  }
  return std::nullopt;
}

double milliseconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The rounds' times in milliseconds, round 0 (the first signal, the first write) left out;
// an explanation when a round went wrong.
std::optional<std::string> timeRounds(bench::WebViewWindow& page, platform::widgethost::LiveHost& host,
                                      std::vector<double>& times) {
  const auto tile = smallVoiceTile(host.timelines());
  if (!tile) return "no small voice widget placed";
  NewPixelsWatch watch(host, *tile);
  for (int round = 0; round <= kRounds; ++round) {
    const std::int64_t hours = 100 + round;
    watch.arm();
    const auto start = std::chrono::steady_clock::now();
    page.run("postStats(" + std::to_string(hours * 3600) + ")");
    if (!bench::iterateMainLoopUntil([&] { return watch.paintedAt().has_value(); }, kPatience)) {
      return "the host window drew no new figures";
    }
    if (!shows(host.timelines(), *tile, std::to_string(hours) + ".0h")) return "the host drew other figures";
    if (round > 0) times.push_back(milliseconds(*watch.paintedAt() - start));
    bench::iterateMainLoopUntil([] { return false; }, kPause);
  }
  return std::nullopt;
}

void BM_StatsToPixels(benchmark::State& state) {
  benchsupport::benchDataHome();
  if (!gtk_init_check()) {
    state.SkipWithError("no display (run under xvfb-run)");
    return;
  }
  const bench::PageServer server(bench::kStatsPage);
  const auto page = bench::WebViewWindow::app(server.url(), "127.0.0.1");
  platform::widgethost::LiveHost host(platform::widgethost::placeWidgets(widgets::SornWidgetBundle()),
                                      platform::widgethost::Clock::system());
  if (!host.listening()) {
    state.SkipWithError("no session bus");
    return;
  }
  settleWithBus(sharedSessionBus().get());
  host.window().present();
  if (!page->presentLoaded(kPatience) ||
      !bench::iterateMainLoopUntil([&] { return host.window().framesDrawn() > 0; }, kPatience)) {
    state.SkipWithError("the page did not load or the host window did not draw");
    return;
  }
  for (auto _ : state) {
    std::vector<double> times;
    if (const auto problem = timeRounds(*page, host, times)) {
      state.SkipWithError(problem->c_str());
      break;
    }
    const bench::FrameTimes frames(GTK_WIDGET(host.window().window()));
    bench::iterateMainLoopUntil([] { return false; }, 1s);
    state.counters["median_ms"] = benchsupport::median(times);
    state.counters["worst_ms"] = *std::max_element(times.begin(), times.end());
    state.counters["frame_ms"] = std::chrono::duration<double, std::milli>(frames.medianInterval()).count();
  }
}
BENCHMARK(BM_StatsToPixels)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
