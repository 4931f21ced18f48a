#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/widgethost/Calendar.h"
#include "platform/widgethost/HomeScreen.h"
#include "platform/widgethost/LiveTimelines.h"
#include "platform/widgethost/TimelineSchedule.h"
#include "tests/support/MainLoopSpin.h"

namespace platform::widgethost {
namespace {

TEST(HomeScreen, TwoSmallTilesShareARowAMediumOneTakesItsOwn) {
  const HomeScreen screen = HomeScreen::arrange({{170, 170}, {170, 170}, {364, 170}, {170, 170}});
  const double m = HomeScreen::margin, gap = HomeScreen::gap, row = 170 + gap;
  std::vector<std::array<double, 2>> origins;
  for (const render::Rect& tile : screen.tiles) origins.push_back({tile.x, tile.y});
  EXPECT_EQ(origins,
            (std::vector<std::array<double, 2>>{{m, m}, {m + row, m}, {m, m + row}, {m, m + 2 * row}}));
  EXPECT_DOUBLE_EQ(screen.tiles[1].maxX(), screen.tiles[2].maxX());
  EXPECT_EQ((std::array{screen.size.width, screen.size.height}),
            (std::array{364 + 2 * m, 3 * 170 + 2 * gap + 2 * m}));
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
      timeline.entries.push_back({dateFromSecondsSince1970(date), render::Text("e")});
    const Date now = dateFromSecondsSince1970(seconds);
    EXPECT_EQ(TimelineSchedule::entryDue(timeline, now), due) << seconds;
    EXPECT_DOUBLE_EQ(secondsSince1970(TimelineSchedule::nextChange(timeline, now)), next) << seconds;
    EXPECT_EQ(TimelineSchedule::reloadDue(timeline, now), reloadDue) << seconds;
  }
}

TEST(Calendar, AnHourLaterIsOneElapsedHourAlsoWhenTheClocksChange) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(),
                   kInfinity = std::numeric_limits<double>::infinity();
  const std::vector<std::tuple<const char*, double, std::optional<double>>> cases = {
      {"UTC", 1700000000.5, 1700003600.5},
      {"America/New_York", 1710052200, 1710055800},     // 2024-03-10 01:30 EST: 02:00 jumps to 03:00
      {"America/New_York", 1730611800, 1730615400},     // 2024-11-03 01:30 EDT: 02:00 goes back to 01:00
      {"Australia/Lord_Howe", 1712414700, 1712418300},  // moves its clocks by half an hour
      {"UTC", -0.25, 3599.75},                          // before 1970, fractions below zero
      {"UTC", kNaN, std::nullopt},
      {"UTC", kInfinity, std::nullopt},
      {"UTC", 1e300, std::nullopt}};  // no date
  const char* saved = std::getenv("TZ");
  const std::string savedZone = saved != nullptr ? saved : "";
  for (const auto& [zone, start, expected] : cases) {
    setenv("TZ", zone, 1);
    tzset();
    const auto later = Calendar::current().dateByAddingHours(1, dateFromSecondsSince1970(start));
    EXPECT_EQ(later ? std::optional(secondsSince1970(*later)) : std::nullopt, expected)
        << zone << " " << start;
  }
  saved != nullptr ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
  tzset();
}

struct CountEntry {
  Date date;
  int number;
};

// Answers each timeline request with one entry showing how many requests it had so
// far, to be asked again `reloadAfter` later; or never answers.
class CountingProvider final : public TimelineProvider<CountEntry> {
 public:
  CountingProvider(std::chrono::duration<double> reloadAfter, bool answers)
      : reloadAfter_(reloadAfter), answers_(answers) {}
  CountEntry placeholder(const TimelineProviderContext&) const override { return {}; }
  void getSnapshot(const TimelineProviderContext&,
                   const std::function<void(CountEntry)>& done) const override {
    done({});
  }
  void getTimeline(const TimelineProviderContext& context,
                   const std::function<void(Timeline<CountEntry>)>& done) const override {
    EXPECT_FALSE(context.isPreview);
    const int number = ++requests_;
    const Date now = Clock::system().now();
    if (answers_) done({{{now, number}}, TimelineReloadPolicy::after(now + reloadAfter_)});
  }

 private:
  std::chrono::duration<double> reloadAfter_;
  bool answers_;
  mutable int requests_ = 0;
};

PlacedWidget placed(std::chrono::duration<double> reloadAfter, bool answers = true) {
  return {
      StaticConfiguration("Count", std::make_shared<const CountingProvider>(reloadAfter, answers),
                          [](const CountEntry& entry) { return render::Text(std::to_string(entry.number)); }),
      WidgetFamily::systemSmall};
}

TEST(LiveTimelines, AsksAtOnceOnReloadAndAgainAfterTheReloadDate) {
  int changes = 0;
  LiveTimelines timelines(
      {placed(std::chrono::seconds(1)), placed(std::chrono::hours(1)), placed(std::chrono::hours(1), false)},
      Clock::system(), [&changes] { ++changes; });
  const auto shown = [&timelines](std::size_t index) -> std::string {
    const render::View* view = timelines.shownView(index);
    return view == nullptr ? "(none)" : std::get<render::Text>(view->node()).content;
  };
  const auto state = [&] {
    return std::tuple(timelines.timelineRequests(0), timelines.timelineRequests(1),
                      timelines.timelineRequests(2), shown(0), shown(1), shown(2));
  };
  // Every placed widget is asked at once and shows its entry; one whose provider never
  // answers shows nothing, and nothing breaks.
  EXPECT_EQ(state(), std::tuple(1, 1, 1, "1", "1", "(none)"));
  EXPECT_EQ(changes, 1);
  timelines.reloadAll();
  EXPECT_EQ(state(), std::tuple(2, 2, 2, "2", "2", "(none)"));
  EXPECT_EQ(changes, 2);
  // Once its reload date has passed the first widget is asked again; the second, due
  // in an hour, is not.
  ASSERT_TRUE(
      testsupport::spinUntil([&] { return timelines.timelineRequests(0) >= 3; }, std::chrono::seconds(10)));
  EXPECT_EQ(std::tuple(timelines.timelineRequests(0), timelines.timelineRequests(1), shown(0), shown(1)),
            std::tuple(3, 2, "3", "2"));
  EXPECT_GE(changes, 3);
}

}  // namespace
}  // namespace platform::widgethost
