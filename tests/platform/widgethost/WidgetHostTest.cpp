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
    placed.push_back({StaticConfiguration(
                          "Count", std::make_shared<const CountingProvider>(after),
                          [](const CountEntry& entry) { return render::Text(std::to_string(entry.number)); }),
                      WidgetFamily::systemSmall});
  int changes = 0;
  const LiveTimelines timelines(std::move(placed), Clock::system(), [&changes] { ++changes; });
  const auto requests = [&] {
    return std::array{timelines.timelineRequests(0), timelines.timelineRequests(1),
                      timelines.timelineRequests(2), changes};
  };
  EXPECT_EQ(requests(), (std::array{1, 1, 1, 1}));
  EXPECT_EQ(timelines.shownView(2), nullptr);
  ASSERT_TRUE(testsupport::spinUntil([&] { return timelines.timelineRequests(0) >= 2; }, 10s));
  EXPECT_EQ(requests(), (std::array{2, 1, 2, 2}));
  EXPECT_EQ(std::get<render::Text>(timelines.shownView(0)->node()).content, "2");
}

}  // namespace
}  // namespace platform::widgethost
