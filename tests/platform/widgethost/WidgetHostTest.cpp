#include <gtest/gtest.h>

#include <array>
#include <chrono>
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

using namespace std::chrono_literals;

TEST(HomeScreen, TwoSmallTilesShareARowAMediumOneTakesItsOwn) {
  const HomeScreen screen = HomeScreen::arrange({{170, 170}, {170, 170}, {364, 170}, {170, 170}});
  const double m = HomeScreen::margin, g = HomeScreen::gap, row = 170 + g;
  std::vector<std::array<double, 2>> corners;  // each tile's origin, then the screen's size
  for (const render::Rect& tile : screen.tiles) corners.push_back({tile.x, tile.y});
  corners.push_back({screen.size.width, screen.size.height});
  const std::vector<std::array<double, 2>> expected = {
      {m, m}, {m + row, m}, {m, m + row}, {m, m + 2 * row}, {364 + 2 * m, 3 * row - g + 2 * m}};
  EXPECT_EQ(corners, expected);
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

// Answers each timeline request with one entry showing how many requests it had so
// far, to be asked again `reloadAfter` later; without it, never answers.
struct CountingProvider final : TimelineProvider<CountEntry> {
  explicit CountingProvider(std::optional<std::chrono::duration<double>> reloadAfter)
      : reloadAfter_(reloadAfter) {}
  CountEntry placeholder(const TimelineProviderContext&) const override { return {}; }
  void getSnapshot(const TimelineProviderContext&, const std::function<void(CountEntry)>&) const override {}
  void getTimeline(const TimelineProviderContext& context,
                   const std::function<void(Timeline<CountEntry>)>& done) const override {
    EXPECT_FALSE(context.isPreview);
    const Date now = Clock::system().now();
    if (reloadAfter_) done({{{now, ++requests_}}, TimelineReloadPolicy::after(now + *reloadAfter_)});
  }
  const std::optional<std::chrono::duration<double>> reloadAfter_;
  mutable int requests_ = 0;
};

TEST(LiveTimelines, AsksAtOnceOnReloadAndAgainAfterTheReloadDate) {
  const auto placed = [](std::optional<std::chrono::duration<double>> reloadAfter) {
    return PlacedWidget{StaticConfiguration("Count", std::make_shared<const CountingProvider>(reloadAfter),
                                            [](const CountEntry& entry) {
                                              return render::Text(std::to_string(entry.number));
                                            }),
                        WidgetFamily::systemSmall};
  };
  int changes = 0;
  LiveTimelines timelines({placed(1s), placed(1h), placed(std::nullopt)}, Clock::system(),
                          [&changes] { ++changes; });
  // Per widget "requests:shown", then how often the host heard of a change.
  const auto state = [&] {
    std::string text;
    for (std::size_t i = 0; i < 3; ++i) {
      const render::View* view = timelines.shownView(i);
      text += std::to_string(timelines.timelineRequests(i)) + ":" +
              (view != nullptr ? std::get<render::Text>(view->node()).content : "-") + " ";
    }
    return text + std::to_string(changes);
  };
  // Every placed widget is asked at once and shows its entry; one whose provider never
  // answers shows nothing, and nothing breaks.
  EXPECT_EQ(state(), "1:1 1:1 1:- 1");
  timelines.reloadAll();
  EXPECT_EQ(state(), "2:2 2:2 2:- 2");
  // Once its reload date has passed the first widget is asked again, as is the one without
  // a timeline; the second, due in an hour, is not.
  ASSERT_TRUE(testsupport::spinUntil([&] { return timelines.timelineRequests(0) >= 3; }, 10s));
  EXPECT_EQ(state(), "3:3 2:2 3:- 3");
}

}  // namespace
}  // namespace platform::widgethost
