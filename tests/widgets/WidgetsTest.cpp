// The widgets' logic: the stats they read and their texts, the host's schedule and tiles.
#include <gtest/gtest.h>
#include <libintl.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <optional>
#include <string>
#include <vector>

#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/HomeScreen.h"
#include "platform/widgethost/TimelineSchedule.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/GermanLocale.h"
#include "tests/support/TempDataDir.h"
#include "widgets/StatsProvider.h"
#include "widgets/StreakWidgetView.h"
#include "widgets/VoiceWidgetView.h"

namespace widgets {
namespace {

using namespace std::chrono_literals;
using namespace platform::widgethost;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// Every text of a view laid out as a small widget, in drawing order.
std::vector<std::string> textsOf(const platform::render::View& view) {
  std::vector<std::string> texts;
  const auto collect = [&texts](const platform::render::LaidOutView& laidOut, const auto& self) -> void {
    if (const auto* text = std::get_if<platform::render::Text>(laidOut.node)) texts.push_back(text->content);
    for (const auto& child : laidOut.children) self(child, self);
  };
  collect(platform::render::ViewRenderer().layout(view, {170, 170}), collect);
  return texts;
}

// A clock one second later on every read (from 1000), and a calendar whose hours are seven
// seconds long, to tell its answer from the fallback, or that cannot add hours at all.
struct SteppingTime final : Clock, Calendar {
  explicit SteppingTime(bool canAdd) : addsHours(canAdd) {}
  [[nodiscard]] Date now() const override { return dateFromSecondsSince1970(1000.0 + reads++); }
  [[nodiscard]] std::optional<Date> dateByAddingHours(int hours, Date date) const override {
    return addsHours ? std::optional(date + std::chrono::duration<double>(7.0 * hours)) : std::nullopt;
  }
  const bool addsHours;
  mutable int reads = 0;
};

// The record as stored, whatever the values, dated now and asked for again a calendar hour
// later. The gallery's preview shows the placeholder and never opens the store.
TEST(WidgetStats, RecordAndTimelineFromARealStore) {
  const testsupport::TempDataDir dir;
  const auto fields = [](const WidgetStats& s) {
    return std::tuple(s.voiceSeconds, s.streakDays, s.bestStreak, s.username, secondsSince1970(s.updatedAt));
  };
  const SteppingTime time(true), timeWithoutHours(false);
  const StatsProvider provider(time, time);
  provider.getSnapshot({{}, {}, true}, [](StatsEntry) {});  // what it shows: the gallery pictures
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
  for (const SteppingTime* calendar : {&time, &timeWithoutHours}) {
    StatsProvider(time, *calendar).getTimeline({}, [&](Timeline<StatsEntry> timeline) {
      ASSERT_EQ(timeline.entries.size(), 1U);
      const double after =
          secondsSince1970(timeline.policy.date) - secondsSince1970(timeline.entries[0].date);
      EXPECT_TRUE(calendar->addsHours ? after == 1 + 7 : after >= 3601 && after <= 3602) << after;
      calls += fields(timeline.entries[0].stats) == fields(stored);
    });
  }
  EXPECT_EQ(calls, 3);
}

// A number punctuation with a decimal comma, as German or French use. (Not the C library's
// de_DE: its newlocale leaks the LOCPATH search list, which LeakSanitizer reports.)
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
  ASSERT_TRUE(german.usable()) << "the build makes de_DE.UTF-8 with localedef (scripts/deps: locales)";
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

}  // namespace
}  // namespace widgets
