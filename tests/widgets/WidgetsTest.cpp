// The widgets and their host: the stats the widgets read and their texts, the host's
// schedule and tiles, its window mode's wiring (LiveHost) in-process, and the sorn-widgets
// program itself, on a session bus of the test's own.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libintl.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/HomeScreen.h"
#include "platform/widgethost/LiveHost.h"
#include "platform/widgethost/TimelineSchedule.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/MainLoopSpin.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"
#include "widgets/StatsProvider.h"
#include "widgets/StreakWidgetView.h"
#include "widgets/VoiceWidgetView.h"

namespace widgets {
namespace {

using namespace std::chrono_literals;
using namespace platform::widgethost;
using testsupport::spinUntil;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

const auto* const kBus = ::testing::AddGlobalTestEnvironment(new testsupport::PrivateBus);
const char* const kPictures[] = {"SornStreakWidget-systemSmall.png", "SornVoiceWidget-systemSmall.png",
                                 "SornVoiceWidget-systemMedium.png"};

void storeStats(std::int64_t voice, std::int64_t streak, std::int64_t best) {
  const auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->write(shared::StoreChanges()
                   .setInteger(shared::keys::kVoiceSeconds, voice)
                   .setInteger(shared::keys::kStreakDays, streak)
                   .setInteger(shared::keys::kBestStreak, best));
}

// Runs a command line to its end: the exit status and everything it wrote.
std::pair<int, std::string> run(const std::string& commandLine) {
  g_autofree gchar* out = nullptr;
  g_autofree gchar* err = nullptr;
  int status = -1;
  EXPECT_TRUE(g_spawn_command_line_sync(commandLine.c_str(), &out, &err, &status, nullptr)) << commandLine;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out ? out : "") + (err ? err : "")};
}

// Sends `count` reload requests as fast as the bus takes them.
void sendReloads(int count) {
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    g_dbus_connection_emit_signal(bus, nullptr, ReloadSignalListener::objectPath,
                                  ReloadSignalListener::interfaceName, ReloadSignalListener::signalName,
                                  nullptr, nullptr);
  }
  g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

// Every text of a view laid out in `size`, in drawing order.
std::vector<std::string> textsOf(const platform::render::View& view,
                                 platform::render::Size size = {170, 170}) {
  std::vector<std::string> texts;
  const auto collect = [&texts](const platform::render::LaidOutView& laidOut, const auto& self) -> void {
    if (const auto* text = std::get_if<platform::render::Text>(laidOut.node)) texts.push_back(text->content);
    for (const auto& child : laidOut.children) self(child, self);
  };
  collect(platform::render::ViewRenderer().layout(view, size), collect);
  return texts;
}

bool shows(const LiveTimelines& timelines, std::size_t index, const std::string& content) {
  const platform::render::View* view = timelines.shownView(index);
  return view != nullptr &&
         std::ranges::count(textsOf(*view, displaySize(timelines.placed()[index].family)), content) > 0;
}

// A picture against its reference, pixel for pixel: "same", "different", or why they cannot be compared.
std::string compared(const std::string& file, const std::string& name) {
  const auto [status, says] =
      run("compare -metric AE " + file + " " SORN_WIDGETS_REFERENCE_DIR "/" + name + " null:");
  return status == 0 ? "same" : status == 1 ? "different" : says;
}

// Gives 1000, 1001, 1002, ... one second later on every read.
struct SteppingClock final : Clock {
  [[nodiscard]] Date now() const override { return dateFromSecondsSince1970(1000.0 + reads++); }
  mutable int reads = 0;
};

// Hours seven seconds long, to tell its answer from the fallback; or none at all.
struct ShortHours final : Calendar {
  explicit ShortHours(bool canAdd) : adds(canAdd) {}
  [[nodiscard]] std::optional<Date> dateByAddingHours(int hours, Date date) const override {
    return adds ? std::optional(date + std::chrono::duration<double>(7.0 * hours)) : std::nullopt;
  }
  bool adds;
};

// The record as stored, whatever the values, dated now and asked for again a calendar hour
// later. The gallery's preview shows the placeholder and never opens the store.
TEST(WidgetStats, RecordAndTimelineFromARealStore) {
  const testsupport::TempDataDir dir;
  const auto fields = [](const WidgetStats& s) {
    return std::tuple(s.voiceSeconds, s.streakDays, s.bestStreak, s.username, secondsSince1970(s.updatedAt));
  };
  const SteppingClock clock;
  const ShortHours hours(true), noHours(false);
  const StatsProvider provider(clock, hours);
  provider.getSnapshot({{}, {}, true}, [&](StatsEntry entry) {
    EXPECT_EQ(fields(entry.stats), fields(WidgetStats::placeholder()));
  });
  EXPECT_FALSE(std::filesystem::exists(dir.suiteFile(shared::kSuiteName)));
  EXPECT_EQ(fields(provider.placeholder({}).stats), fields(WidgetStats::placeholder()));
  namespace keys = shared::keys;
  const auto store = shared::SharedStore::open();
  EXPECT_EQ(fields(WidgetStats::load()), fields({0, 0, 0, "", {}}));
  ASSERT_TRUE(store->write(shared::StoreChanges()
                               .setString(keys::kVoiceSeconds, "3600")
                               .setDouble(keys::kStreakDays, 2.5)
                               .setString(keys::kBestStreak, "9")
                               .setInteger(keys::kUsername, 42)
                               .setString(keys::kStatsUpdatedAt, "yesterday")));
  EXPECT_EQ(fields(WidgetStats::load()), fields({0, 0, 0, "", {}}));  // other types read as missing
  ASSERT_TRUE(store->write(shared::StoreChanges()
                               .setInteger(keys::kVoiceSeconds, kMin)
                               .setInteger(keys::kStreakDays, kMax)
                               .setInteger(keys::kBestStreak, -3)
                               .setString(keys::kUsername, "ann")
                               .setDouble(keys::kStatsUpdatedAt, -12.25)));
  const WidgetStats stored{kMin, kMax, -3, "ann", dateFromSecondsSince1970(-12.25)};
  int calls = 0;
  provider.getSnapshot({}, [&](StatsEntry entry) { calls += fields(entry.stats) == fields(stored); });
  // Dated at the call's first clock read; reloaded a calendar hour after a fresh read, or
  // 3600 s after one when the calendar cannot say.
  for (const auto* calendar : {&hours, &noHours}) {
    StatsProvider(clock, *calendar).getTimeline({}, [&](Timeline<StatsEntry> timeline) {
      ASSERT_EQ(timeline.entries.size(), 1U);
      const double after =
          secondsSince1970(timeline.policy.date) - secondsSince1970(timeline.entries[0].date);
      EXPECT_TRUE(calendar->adds ? after == 1 + 7 : after >= 3601 && after <= 3602) << after;
      calls += fields(timeline.entries[0].stats) == fields(stored);
    });
  }
  EXPECT_EQ(calls, 3);
}

// A number punctuation with a decimal comma, as German or French use.
struct CommaPunctuation : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

// Voice time in hours from one hour, minutes below; the figures keep their point in every
// locale while the words, units and plurals are translated.
TEST(WidgetTexts, FiguresUnitsAndTranslations) {
  const auto voiceText = [](std::int64_t seconds) { return voiceTimeText({seconds, 0, 0, "", {}}); };
  // clang-format off
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0m"}, {59, "0m"}, {60, "1m"}, {3599, "59m"}, {3600, "1.0h"}, {4500, "1.2h"}, {5400, "1.5h"}, {18240, "5.1h"},
      {-1, "0m"}, {-61, "-1m"}, {-7200, "-120m"}, {kMin, "-153722867280912930m"}, {kMax, "2562047788015215.5h"}};
  // clang-format on
  for (const auto& [seconds, text] : cases) EXPECT_EQ(voiceText(seconds), text) << seconds;
  EXPECT_EQ((std::vector{streakUnitText(1), streakUnitText(2), streakUnitText(0), streakUnitText(-1)}),
            (std::vector<std::string>{"day", "days", "days", "days"}));

  const testsupport::GermanLocale german;
  ASSERT_TRUE(german.usable()) << "de_DE.UTF-8 needs the locales package (scripts/deps)";
  std::array<char, 16> printed{};
  std::snprintf(printed.data(), printed.size(), "%.1f", 1.5);
  EXPECT_STREQ(printed.data(), "1,5") << "the locale really writes a decimal comma";
  EXPECT_EQ(voiceText(18240), "5.1 h");
  EXPECT_EQ(textsOf(StreakWidgetView{{{}, {0, 1, 21, "", {}}}}.body()),
            (std::vector<std::string>{"SERIE", "1", "Tag", "Rekord 21"}));
  EXPECT_EQ(textsOf(VoiceWidgetView{{{}, {60, 7, -1, "", {}}}}.body()),
            (std::vector<std::string>{"SPRACHZEIT", "1 min", "Serie", "7 T", "Rekord", "-1 T"}));

  // A translation keeps its number where it puts it, or is not used without one; nothing
  // in it ("%s%n") is ever handed to a formatting function.
  const testsupport::TempDataDir dir;
  const auto messages = dir.root() / "de" / "LC_MESSAGES";
  std::filesystem::create_directories(messages);
  std::ofstream(dir.root() / "de.po") << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                                      << "msgid \"Best %lld\"\nmsgstr \"Rekord: %1$lld (100%%)\"\n"
                                      << "msgid \"%lld\"\nmsgstr \"%s%n\"\n";
  const std::string compile =
      "msgfmt -o '" + (messages / "sorn.mo").string() + "' '" + (dir.root() / "de.po").string() + "'";
  ASSERT_EQ(std::system(compile.c_str()), 0) << "gettext (msgfmt) is a dependency";
  bindtextdomain(platform::text::kTextDomain, dir.root().c_str());
  EXPECT_EQ(textsOf(StreakWidgetView{{{}, {0, 7, 21, "", {}}}}.body()),
            (std::vector<std::string>{"STREAK", "7", "days", "Rekord: 21 (100%)"}));
  // Also where the C++ global locale writes a decimal comma.
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunctuation));
  EXPECT_EQ(voiceText(1234567), "342.9h");
  std::locale::global(saved);
}

// Rows and columns the same gap apart, the margins alike on every side.
TEST(HomeScreen, TwoSmallTilesShareARowAMediumOneTakesItsOwn) {
  const auto [t, size] = HomeScreen::arrange({{170, 170}, {170, 170}, {364, 170}, {170, 170}});
  const double margin = t[0].x, gap = t[1].x - t[0].maxX();
  EXPECT_EQ((std::array{t[0].y, t[1].y, t[2].x, t[2].y, t[3].x, t[3].y, size.width, size.height}),
            (std::array{margin, margin, margin, t[0].maxY() + gap, margin, t[2].maxY() + gap,
                        t[2].maxX() + margin, t[3].maxY() + margin}));
}

TEST(TimelineSchedule, ShowsTheEntryDueAndWakesAtTheNextChange) {
  // Entry dates, reload date, now; the entry due, the next change, whether to reload.
  const std::vector<std::tuple<std::vector<double>, double, double, std::optional<std::size_t>, double, bool>>
      cases = {
          {{100}, 3700, 100, 0, 3700, false},
          {{100}, 3700, 3700, 0, 3700, true},
          {{100, 200, 300}, 1000, 250, 1, 300, false},
          {{100, 200, 300}, 1000, 50, 0, 100, false},  // all ahead: the first shows
          {{100, 200, 300}, 250, 150, 0, 200, false},
          {{}, 500, 0, std::nullopt, 500, false},
      };
  for (const auto& [entries, reload, seconds, due, next, reloadDue] : cases) {
    ViewTimeline timeline{{}, TimelineReloadPolicy::after(dateFromSecondsSince1970(reload))};
    for (double date : entries)
      timeline.entries.push_back({dateFromSecondsSince1970(date), platform::render::Text("e")});
    const Date now = dateFromSecondsSince1970(seconds);
    EXPECT_EQ(std::tuple(TimelineSchedule::entryDue(timeline, now),
                         secondsSince1970(TimelineSchedule::nextChange(timeline, now)),
                         TimelineSchedule::reloadDue(timeline, now)),
              std::tuple(due, next, reloadDue))
        << seconds;
  }
}

TEST(Calendar, AnHourLaterIsOneElapsedHourAlsoWhenTheClocksChange) {
  const std::vector<std::tuple<const char*, double, std::optional<double>>> cases = {
      {"UTC", 1700000000.5, 1700003600.5},
      {"America/New_York", 1710052200, 1710055800},     // 2024-03-10 01:30 EST: 02:00 jumps to 03:00
      {"America/New_York", 1730611800, 1730615400},     // 2024-11-03 01:30 EDT: 02:00 goes back to 01:00
      {"Australia/Lord_Howe", 1712414700, 1712418300},  // moves its clocks by half an hour
      {"UTC", -0.25, 3599.75},                          // before 1970, fractions below zero
      {"UTC", std::numeric_limits<double>::quiet_NaN(), std::nullopt},  // no date
      {"UTC", std::numeric_limits<double>::infinity(), std::nullopt},
      {"UTC", 1e300, std::nullopt}};
  for (const auto& [zone, start, expected] : cases) {
    setenv("TZ", zone, 1);
    tzset();
    const auto later = Calendar::current().dateByAddingHours(1, dateFromSecondsSince1970(start));
    EXPECT_EQ(later ? std::optional(secondsSince1970(*later)) : std::nullopt, expected)
        << zone << " " << start;
  }
}

struct CountEntry {
  Date date;
  int number;
};

// Answers each timeline request with the number of requests so far, to be asked again
// `reloadAfter` later; without it, never answers.
struct CountingProvider final : TimelineProvider<CountEntry> {
  explicit CountingProvider(std::optional<std::chrono::duration<double>> after) : reloadAfter(after) {}
  CountEntry placeholder(const TimelineProviderContext&) const override { return {}; }
  void getSnapshot(const TimelineProviderContext&, const std::function<void(CountEntry)>&) const override {}
  void getTimeline(const TimelineProviderContext& context,
                   const std::function<void(Timeline<CountEntry>)>& done) const override {
    EXPECT_FALSE(context.isPreview);
    const Date now = Clock::system().now();
    if (reloadAfter) done({{{now, ++requests}}, TimelineReloadPolicy::after(now + *reloadAfter)});
  }
  const std::optional<std::chrono::duration<double>> reloadAfter;
  mutable int requests = 0;
};

// Asking at once and on reloadAll: SornWidgetsHost.ReloadSignalAsksForNewTimelines...
TEST(LiveTimelines, AsksAgainAfterTheReloadDateAndWithoutATimelineAtTheNextLook) {
  std::vector<PlacedWidget> placed;
  using Wait = std::optional<std::chrono::duration<double>>;
  for (const Wait after : {Wait(1s), Wait(1h), Wait()})
    placed.push_back({StaticConfiguration("Count", std::make_shared<const CountingProvider>(after),
                                          [](const CountEntry& entry) {
                                            return platform::render::Text(std::to_string(entry.number));
                                          }),
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
  EXPECT_EQ(std::get<platform::render::Text>(timelines.shownView(0)->node()).content, "2");
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
  std::atomic<bool> sent = false;
  std::thread app([&sent] {
    for (int round = 1; round <= kRounds; ++round) {
      storeStats(round * 3600, round, 2 * kRounds);
      sendReloads(200);
    }
    sent = true;
  });
  const bool showsTheLastFigures = spinUntil(
      [&] {
        return sent && shows(timelines, 0, std::to_string(kRounds)) &&
               shows(timelines, 1, std::to_string(kRounds) + ".0h") &&
               shows(timelines, 2, std::to_string(kRounds) + "d") && shown.framesDrawn() > framesBefore;
      },
      60s);
  app.join();
  EXPECT_TRUE(showsTheLastFigures);
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
  std::filesystem::create_directories(closed + "/app-groups/" + shared::kSuiteName);
  std::filesystem::permissions(closed + "/app-groups/" + shared::kSuiteName,
                               std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  const std::string program = " " SORN_WIDGETS_BINARY, withoutStore = " XDG_DATA_HOME=" + closed;
  // The command line, its exit status and a part of what it writes (after "!": must not write).
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"timeout 20" + program, 0, ""},  // hands over and ends, runs no host
      {"env" + program + " --snapshot=" + out + "/snapshot", 0, ""},
      {"env" + program + " --gallery " + out + "/gallery", 0, ""},
      {"env -u G_MESSAGES_DEBUG" + withoutStore + program + " --snapshot " + out + "/placeholder", 0,
       "!cannot be opened"},
      // Logged only when asked for; the widgets show their placeholder.
      {"env G_MESSAGES_DEBUG=sorn" + withoutStore + program + " --snapshot " + out + "/logged", 0,
       "The store " + closed + "/app-groups/" + shared::kSuiteName + "/suite.sqlite3 cannot be opened"},
      {"env -u DISPLAY -u WAYLAND_DISPLAY" + program, 1, "cannot open a display"},
      {"env" + program + " stray", 2, "sorn-widgets: Unexpected argument 'stray'."},
      {"env" + program + " --snapshot", 2, "Missing argument for --snapshot"},
      {"env" + program + " --gallery=", 2, "--gallery needs a folder."},
      {"env" + program + " --snapshot a --gallery b", 2, "Only one of --snapshot and --gallery"},
      // A folder that cannot be made is an error, not a silent success.
      {"env" + program + " --snapshot /proc/no/such/folder", 1, "cannot make the folder"},
  };
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(stopSignal);
    const char* argv[] = {SORN_WIDGETS_BINARY, nullptr};
    GPid pid = 0;
    ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                              nullptr, &pid, nullptr));
    EXPECT_TRUE(spinUntil([] { return testsupport::busNameHasOwner("com.tarnwell.sorn.Widgets"); }, 10s));
    for (const auto& [commandLine, expectedStatus, says] : cases) {
      const auto [status, output] = run(commandLine);
      EXPECT_EQ(status, expectedStatus) << commandLine << ": " << output;
      const bool absent = says.starts_with('!');
      EXPECT_EQ(output.find(says.substr(absent ? 1 : 0)) == std::string::npos, absent)
          << commandLine << ": " << output;
    }
    // The gallery and a store that cannot be opened show the placeholder record; the
    // snapshot the stored figures.
    for (const char* picture : kPictures) {
      EXPECT_EQ(compared(out + "/gallery/" + picture, picture), "same") << picture;
      EXPECT_EQ(compared(out + "/placeholder/" + picture, picture), "same") << picture;
      EXPECT_EQ(compared(out + "/snapshot/" + picture, picture), "different") << picture;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out + "/gallery"), {}), 3);
    sendReloads(5000);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the running host ended";
    kill(pid, stopSignal);
    // Ends within a generous bound, or is stopped for good.
    const bool ended = spinUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5s);
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    g_spawn_close_pid(pid);
  }
}

}  // namespace
}  // namespace widgets
