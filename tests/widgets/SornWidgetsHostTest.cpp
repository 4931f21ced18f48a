// The widget host in-process (its timelines on the main loop, its window mode wired as the
// program wires it), the sorn-widgets program itself, a sample drawn as its widgets are and
// the app's reload request, on a session bus of the test's own.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "platform/desktop/WidgetCenter.h"
#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/LiveHost.h"
#include "platform/widgethost/SnapshotWriter.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/Command.h"
#include "tests/support/MainLoopSpin.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"
#include "widgets/WidgetPalette.h"

namespace widgets {
namespace {

using namespace std::chrono_literals;
using namespace platform::widgethost;
using platform::desktop::WidgetCenter;
namespace render = platform::render;
using testsupport::spinUntil;

const auto* const kBus = ::testing::AddGlobalTestEnvironment(new testsupport::PrivateBus);

void storeStats(std::int64_t voice, std::int64_t streak, std::int64_t best) {
  const auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->write(shared::StoreChanges()
                   .setInteger(shared::keys::kVoiceSeconds, voice)
                   .setInteger(shared::keys::kStreakDays, streak)
                   .setInteger(shared::keys::kBestStreak, best));
}

// Sends `count` reload requests as fast as the bus takes them.
void sendReloads(int count) {
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  for (int i = 0; i < count; ++i)
    g_dbus_connection_emit_signal(bus, nullptr, WidgetCenter::kObjectPath, WidgetCenter::kInterface,
                                  WidgetCenter::kReloadSignal, nullptr, nullptr);
  g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

bool shows(const LiveTimelines& timelines, std::size_t index, const std::string& content) {
  const render::View* view = timelines.shownView(index);
  const auto size = displaySize(timelines.placed()[index].family);
  return view != nullptr && findText(render::ViewRenderer().layout(*view, size), content) != nullptr;
}

// What the widgets' pictures do not show, drawn as a widget is: edges padded unequally,
// trailing alignment, texts that share a row and wrap, a spacer left no room, texts cut off
// at the height offered (never below a line), and content reaching into its clip's corners.
render::View renderingSample() {
  using namespace render;
  const auto text = [](const char* content) {
    return View(Text(content).font(Font::system(9)).foregroundStyle(WidgetPalette::accent));
  };
  const auto onSurface = [](const View& view) { return view.background(WidgetPalette::surface); };
  const char* const phrase = "Time spent in voice";
  const auto cutOffAt = [&](double height) {
    return onSurface(text(phrase)).frame({.maxWidth = 40, .maxHeight = height, .alignment = {}});
  };
  const Text letters = Text("MMMM").font(Font::system(30, FontWeight::heavy));
  return View(VStack{HorizontalAlignment::trailing,
                     4,
                     {
                         onSurface(text("padded").padding(EdgeInsets{1, 2, 3, 4})),
                         HStack{VerticalAlignment::top, 0, {onSurface(text(phrase)), text(phrase)}},
                         HStack{VerticalAlignment::center,
                                0,
                                {onSurface(text("Total time you have spent in voice")), Spacer{}}},
                         HStack{VerticalAlignment::top, 4, {cutOffAt(16), cutOffAt(1)}},
                         onSurface(letters.foregroundStyle(WidgetPalette::primaryText)).clipShape({12}),
                     }})
      .padding(14);
}

using Wait = std::optional<std::chrono::duration<double>>;

// Answers each timeline request with the number of requests so far, to be asked again
// `reloadAfter` later; without it, never answers.
struct CountingProvider final : TimelineProvider<EntryView> {
  explicit CountingProvider(Wait after) : reloadAfter(after) {}
  EntryView placeholder(const TimelineProviderContext&) const override { return {{}, render::Text("")}; }
  void getSnapshot(const TimelineProviderContext&, const std::function<void(EntryView)>&) const override {}
  void getTimeline(const TimelineProviderContext& context,
                   const std::function<void(Timeline<EntryView>)>& done) const override {
    EXPECT_FALSE(context.isPreview);
    const Date now = Clock::system().now();
    const render::Text shown(std::to_string(++requests));
    if (reloadAfter) done({{{now, shown}}, TimelineReloadPolicy::after(now + *reloadAfter)});
  }
  const Wait reloadAfter;
  mutable int requests = 0;
};

// Asking at once and on reloadAll: SornWidgetsHost.ReloadSignalAsksForNewTimelines...
TEST(LiveTimelines, AsksAgainAfterTheReloadDateAndWithoutATimelineAtTheNextLook) {
  std::vector<PlacedWidget> placed;
  const auto itsView = [](const EntryView& entry) { return entry.view; };
  for (const Wait after : {Wait(1s), Wait(1h), Wait()})
    placed.push_back({StaticConfiguration("Count", std::make_shared<const CountingProvider>(after), itsView),
                      WidgetFamily::systemSmall});
  int changes = 0;
  const LiveTimelines timelines(std::move(placed), Clock::system(), [&changes] { ++changes; });
  const auto requests = [&] {
    return std::array{timelines.timelineRequests(0), timelines.timelineRequests(1),
                      timelines.timelineRequests(2), changes};
  };
  EXPECT_EQ(requests(), (std::array{1, 1, 1, 1}));
  EXPECT_EQ(timelines.shownView(2), nullptr);
  ASSERT_TRUE(spinUntil([&] { return timelines.timelineRequests(0) >= 2; }, 10s));
  EXPECT_EQ(requests(), (std::array{2, 1, 2, 2}));
  EXPECT_EQ(std::get<render::Text>(timelines.shownView(0)->node()).content, "2");
}

TEST(SornWidgetsHost, ReloadSignalAsksForNewTimelinesAndRedrawsAtMostOnceAFrame) {
  ASSERT_TRUE(gtk_init_check()) << "engine tests run under a virtual display (xvfb-run)";
  const testsupport::TempDataDir dir;
  storeStats(60, 3, 4);
  LiveHost host(placeWidgets(SornWidgetBundle()), Clock::system());
  const auto& timelines = host.timelines();
  auto& shown = host.window();
  shown.present();

  // Streak small, Voice small, Voice medium, each asked once and drawn.
  ASSERT_EQ(timelines.placed().size(), 3U);
  ASSERT_TRUE(spinUntil([&] { return shown.framesDrawn() > 0; }, 10s)) << "the window never drew";
  EXPECT_TRUE(shows(timelines, 0, "3") && shows(timelines, 1, "1m") && shows(timelines, 2, "4d"));

  // Thousands of requests while the figures keep changing: every widget reloads, no more
  // often than frames are drawn, and the figures stored last are the ones shown.
  const int framesBefore = shown.framesDrawn();
  constexpr int kRounds = 20;
  const auto app = std::async(std::launch::async, [] {
    for (int round = 1; round <= kRounds; ++round) {
      storeStats(round * 3600, round, 2 * kRounds);
      sendReloads(200);
    }
  });
  EXPECT_TRUE(spinUntil(
      [&] {
        return app.wait_for(0s) == std::future_status::ready &&
               shows(timelines, 0, std::to_string(kRounds)) &&
               shows(timelines, 1, std::to_string(kRounds) + ".0h") &&
               shows(timelines, 2, std::to_string(kRounds) + "d") && shown.framesDrawn() > framesBefore;
      },
      60s));
  const int reloads = timelines.timelineRequests(0) - 1;
  EXPECT_LE(reloads, shown.framesDrawn() - framesBefore + 1);
  for (std::size_t i = 1; i < 3; ++i) EXPECT_EQ(timelines.timelineRequests(i), reloads + 1);
}

// The program as a session starts it: one host a session, to which a second start hands
// over, while snapshots and the gallery still run beside it; the command line's errors; and
// the host ends cleanly on a stop signal, also after a flood of reloads.
TEST(SornWidgetsProgram, PicturesCommandLineErrorsAndOneHostASessionThatEndsCleanlyOnSignals) {
  const testsupport::TempDataDir dir;
  storeStats(5400, 2, 9);
  // A data folder whose suite others may read: the store refuses to open it.
  const std::string out = dir.root().string(), closed = out + "/closed";
  const std::string closedSuite = closed + "/app-groups/" + shared::kSuiteName;
  std::filesystem::create_directories(closedSuite);
  std::filesystem::permissions(closedSuite, std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  const std::string program = " " SORN_WIDGETS_BINARY, withoutStore = " XDG_DATA_HOME=" + closed;
  // The command line, its exit status and a part of what it writes (after "!": must not write).
  std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"timeout 20" + program, 0, ""},  // hands over and ends, runs no host
      {"env" + program + " --snapshot=" + out + "/snapshot", 0, ""},
      {"env" + program + " --gallery " + out + "/gallery", 0, ""},
      {"env -u G_MESSAGES_DEBUG" + withoutStore + program + " --snapshot " + out + "/placeholder", 0,
       "!cannot be opened"},
      // Logged only when asked for; the widgets show their placeholder.
      {"env G_MESSAGES_DEBUG=sorn" + withoutStore + program + " --snapshot " + out + "/logged", 0,
       "The store " + closedSuite + "/suite.sqlite3 cannot be opened"},
      {"env -u DISPLAY -u WAYLAND_DISPLAY" + program, 1, "cannot open a display"},
      {"env" + program + " stray", 2, "sorn-widgets: Unexpected argument 'stray'."},
      {"env" + program + " --snapshot", 2, "Missing argument for --snapshot"},
      {"env" + program + " --gallery=", 2, "--gallery needs a folder."},
      {"env" + program + " --snapshot a --gallery b", 2, "Only one of --snapshot and --gallery"},
      // A folder that cannot be made is an error, not a silent success.
      {"env" + program + " --snapshot /proc/no/such/folder", 1, "cannot make the folder"},
      // The extension's metadata as the bundle declares it.
      {"diff " SORN_WIDGETS_EXTENSION " " SORN_WIDGETS_REFERENCE_DIR, 0, ""},
  };
  // Pixel for pixel (status 0 same, 1 different): the gallery and a store that cannot be
  // opened show the placeholder record, the snapshot the stored figures; and the sample.
  const auto compare = [](const std::string& drawn, const std::string& reference) {
    return "compare -metric AE " + drawn + " " SORN_WIDGETS_REFERENCE_DIR "/" + reference + " null:";
  };
  for (const std::string picture : {"SornStreakWidget-systemSmall.png", "SornVoiceWidget-systemSmall.png",
                                    "SornVoiceWidget-systemMedium.png"})
    for (const std::string folder : {"/gallery/", "/placeholder/", "/snapshot/"})
      cases.emplace_back(compare(out + folder + picture, picture), folder == "/snapshot/" ? 1 : 0, "");
  ASSERT_FALSE(SnapshotWriter().write(renderingSample(), WidgetFamily::systemSmall, out + "/sample.png"));
  cases.emplace_back(compare(out + "/sample.png", "RenderingSample.png"), 0, "");
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(stopSignal);
    testsupport::Process host({SORN_WIDGETS_BINARY});
    EXPECT_TRUE(spinUntil([] { return testsupport::busNameHasOwner("com.tarnwell.sorn.Widgets"); }, 10s));
    for (const auto& [commandLine, status, says] : cases) {
      const std::string output = testsupport::outputOf(commandLine + " 2>&1; echo \" [exit $?]\"");
      const bool absent = says.starts_with('!');
      EXPECT_TRUE(output.ends_with(" [exit " + std::to_string(status) + "]\n") &&
                  (output.find(says.substr(absent ? 1 : 0)) == std::string::npos) == absent)
          << commandLine << ": " << output;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out + "/gallery"), {}), 3);
    sendReloads(5000);
    EXPECT_EQ(waitpid(host.pid(), nullptr, WNOHANG), 0) << "the running host ended";
    EXPECT_EQ(host.end(stopSignal), "exit 0");
  }
}

TEST(WidgetCenter, WithoutABusNothingHappensThenABurstOfReloadsIsOneSignalAndEachLaterReloadOneMore) {
  const std::string address = g_getenv("DBUS_SESSION_BUS_ADDRESS");  // set, or engine tests skip
  // Without a bus the request is only noted for debugging.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sorn-test-bus", 1);
  int logged = 0;
  const GLogFunc noteLevel = [](const gchar*, GLogLevelFlags level, const gchar*, gpointer levels) {
    *static_cast<int*>(levels) |= level;
  };
  g_log_set_handler("sorn", G_LOG_LEVEL_MASK, noteLevel, &logged);
  WidgetCenter::shared().reloadAllTimelines();
  ASSERT_TRUE(spinUntil([&] { return logged != 0; }, 10s));
  EXPECT_EQ(logged, G_LOG_LEVEL_DEBUG);

  // The bus is looked for again at the next request; the widget host's listener hears it.
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  int reloads = 0;
  const ReloadSignalListener listener([&reloads] { ++reloads; });
  // Two bursts, while the bus is looked for and once it is known, then single requests.
  constexpr int kRounds = 14;
  for (int round = 1; round <= kRounds; ++round) {
    for (int i = 0; i < (round <= 2 ? 200 : 1); ++i) WidgetCenter::shared().reloadAllTimelines();
    ASSERT_TRUE(spinUntil([&] { return reloads >= round; }, 10s)) << "round " << round << " sent nothing";
  }
  // Signals from one connection arrive in order: once this last one is in, any other
  // signal of the bursts would be too.
  sendReloads(1);
  ASSERT_TRUE(spinUntil([&] { return reloads > kRounds; }, 10s));
  EXPECT_EQ(reloads, kRounds + 1);
}

}  // namespace
}  // namespace widgets
