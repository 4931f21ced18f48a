// Costs of the widget extension, each next to a same-run baseline:
// - getTimeline (store open, five reads, entry) vs five reads on one kept-open SQLite
//   connection;
// - drawing one widget into pixels (view, layout, Pango, Cairo) vs a hand-written
//   Cairo/Pango drawing of the same texts and shapes; PNG encoding apart;
// - the host's resident memory in --snapshot mode, and with its window open vs a bare
//   GTK 4 window with one drawing area (needs a display).
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "bench/support/BenchDataHome.h"
#include "bench/support/KeptOpenConnection.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/render/CairoDrawing.h"
#include "platform/render/Path.h"
#include "platform/render/Symbols.h"
#include "platform/widgethost/TilePainter.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "widgets/StatsProvider.h"
#include "widgets/VoiceWidgetView.h"
#include "widgets/WidgetPalette.h"

namespace {

namespace fs = std::filesystem;
using widgets::WidgetPalette;

// A private data home for the whole run, with the statistics stored.
const fs::path& dataHome() {
  static const fs::path home = [] {
    const fs::path& root = benchsupport::benchDataHome();
    auto store = shared::SharedStore::open();
    store->setInteger(shared::keys::kVoiceSeconds, 18240);
    store->setInteger(shared::keys::kStreakDays, 7);
    store->setInteger(shared::keys::kBestStreak, 21);
    store->setString(shared::keys::kUsername, "you");
    store->setDouble(shared::keys::kStatsUpdatedAt, 1700000000.5);
    return root;
  }();
  return home;
}

void BM_FiveReadsOnAKeptOpenConnection(benchmark::State& state) {
  benchsupport::KeptOpenConnection connection(dataHome() / "app-groups" / shared::kSuiteName /
                                              "suite.sqlite3");
  const std::array<const char*, 5> keys = {shared::keys::kVoiceSeconds, shared::keys::kStreakDays,
                                           shared::keys::kBestStreak, shared::keys::kUsername,
                                           shared::keys::kStatsUpdatedAt};
  for (auto _ : state) {
    for (const char* key : keys) benchmark::DoNotOptimize(connection.readInteger(key));
  }
}
BENCHMARK(BM_FiveReadsOnAKeptOpenConnection);

void BM_GetTimeline(benchmark::State& state) {
  dataHome();
  const widgets::StatsProvider provider;
  const platform::widgethost::TimelineProviderContext context{};
  for (auto _ : state) {
    provider.getTimeline(context, [](platform::widgethost::Timeline<widgets::StatsEntry> timeline) {
      benchmark::DoNotOptimize(timeline.entries.front().stats.voiceSeconds);
    });
  }
}
BENCHMARK(BM_GetTimeline);

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

Surface tileSurface() {
  return {cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 340, 340), &cairo_surface_destroy};
}

void BM_DrawVoiceWidget(benchmark::State& state) {
  Surface surface = tileSurface();
  platform::widgethost::TilePainter painter;
  widgets::StatsEntry entry{{}, widgets::WidgetStats::placeholder()};
  for (auto _ : state) {
    Context cairo(cairo_create(surface.get()), &cairo_destroy);
    cairo_scale(cairo.get(), 2, 2);
    painter.paint(cairo.get(), widgets::VoiceWidgetView{entry}.body(), {0, 0, 170, 170});
    cairo_surface_flush(surface.get());
  }
}
BENCHMARK(BM_DrawVoiceWidget)->Unit(benchmark::kMicrosecond);

// The same tile drawn by hand: rounded tile, symbol, six text runs, two pills.
void BM_HandWrittenDrawing(benchmark::State& state) {
  Surface surface = tileSurface();
  PangoFontMap* fontMap = pango_cairo_font_map_get_default();
  const auto context =
      platform::gobject::ObjectRef<PangoContext>::adopt(pango_font_map_create_context(fontMap));
  struct Run {
    const char* text;
    const char* font;
    platform::render::Color color;
    double x, y;
  };
  const std::array<Run, 6> runs = {{
      {"VOICE TIME", "Inter Heavy 10px", WidgetPalette::mutedText, 39.4, 17.5},
      {"5.1h", "Quicksand Bold 36px", WidgetPalette::primaryText, 14, 39},
      {"Streak", "Inter Bold 9px", WidgetPalette::mutedText, 23, 89},
      {"7d", "Inter Bold 13px", WidgetPalette::primaryText, 23, 101},
      {"Best", "Inter Bold 9px", WidgetPalette::mutedText, 80, 89},
      {"21d", "Inter Bold 13px", WidgetPalette::primaryText, 80, 101},
  }};
  for (auto _ : state) {
    Context cairo(cairo_create(surface.get()), &cairo_destroy);
    cairo_t* cr = cairo.get();
    cairo_scale(cr, 2, 2);
    platform::render::CairoDrawing::fill(
        cr, platform::render::continuousRoundedRectangle({0, 0, 170, 170}, 22), WidgetPalette::background);
    platform::render::CairoDrawing::fill(
        cr, platform::render::Symbols::path("waveform", {14, 16, 20.4, 16.15}), WidgetPalette::accent);
    for (double x : {14.0, 71.0}) {
      platform::render::CairoDrawing::fill(
          cr, platform::render::continuousRoundedRectangle({x, 84, 47, 38}, 7), WidgetPalette::surface);
    }
    for (const Run& run : runs) {
      g_autoptr(PangoLayout) layout = pango_layout_new(context.get());
      g_autoptr(PangoFontDescription) font = pango_font_description_from_string(run.font);
      pango_layout_set_font_description(layout, font);
      pango_layout_set_text(layout, run.text, -1);
      platform::render::CairoDrawing::setColor(cr, run.color);
      cairo_move_to(cr, run.x, run.y);
      pango_cairo_show_layout(cr, layout);
    }
    cairo_surface_flush(surface.get());
  }
}
BENCHMARK(BM_HandWrittenDrawing)->Unit(benchmark::kMicrosecond);

cairo_status_t discard(void* bytes, const unsigned char* /*data*/, unsigned int length) {
  *static_cast<std::size_t*>(bytes) += length;
  return CAIRO_STATUS_SUCCESS;
}

void BM_EncodePng(benchmark::State& state) {
  Surface surface = tileSurface();
  {
    Context cairo(cairo_create(surface.get()), &cairo_destroy);
    cairo_scale(cairo.get(), 2, 2);
    platform::widgethost::TilePainter().paint(
        cairo.get(), widgets::VoiceWidgetView{{{}, widgets::WidgetStats::placeholder()}}.body(),
        {0, 0, 170, 170});
  }
  std::size_t bytes = 0;
  for (auto _ : state) cairo_surface_write_to_png_stream(surface.get(), &discard, &bytes);
  state.counters["bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

double mebibytes(long kibibytes) { return static_cast<double>(kibibytes) / 1024.0; }

void BM_SnapshotModeMaxRss(benchmark::State& state) {
  const fs::path out = dataHome() / "snapshots";
  for (auto _ : state) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(SORN_WIDGETS_BINARY, SORN_WIDGETS_BINARY, "--snapshot", out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("sorn-widgets --snapshot failed");
    state.counters["maxRSS_MiB"] = mebibytes(usage.ru_maxrss);
  }
}
BENCHMARK(BM_SnapshotModeMaxRss)->Iterations(1)->Unit(benchmark::kMillisecond);

// Starts a windowed program, lets it draw, reads its resident memory and stops it.
double windowRssMiB(const char* program) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl(program, program, static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  long kibibytes = -1;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) kibibytes = std::strtol(line.c_str() + 6, nullptr, 10);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return kibibytes < 0 ? -1 : mebibytes(kibibytes);
}

void BM_WindowRss(benchmark::State& state) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    state.SkipWithError("no display (run under xvfb-run)");
    return;
  }
  dataHome();
  for (auto _ : state) {
    const double host = windowRssMiB(SORN_WIDGETS_BINARY);
    const double bare = windowRssMiB(BARE_GTK_WINDOW_BINARY);
    state.counters["host_RSS_MiB"] = host;
    state.counters["bareGtk_RSS_MiB"] = bare;
    state.counters["ratio"] = bare > 0 ? host / bare : 0;
  }
}
BENCHMARK(BM_WindowRss)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
