#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/widgethost/Calendar.h"
#include "platform/widgethost/HomeScreen.h"
#include "platform/widgethost/HostOptions.h"
#include "platform/widgethost/PlacedWidget.h"
#include "platform/widgethost/TimelineSchedule.h"

namespace platform::widgethost {
namespace {

struct TestEntry {
  Date date;
};

class NoProvider final : public TimelineProvider<TestEntry> {
 public:
  TestEntry placeholder(const TimelineProviderContext&) const override { return {}; }
  void getSnapshot(const TimelineProviderContext&,
                   const std::function<void(TestEntry)>& completion) const override {
    completion({});
  }
  void getTimeline(const TimelineProviderContext&,
                   const std::function<void(Timeline<TestEntry>)>& completion) const override {
    completion({});
  }
};

class NamedWidget final : public Widget {
 public:
  NamedWidget(std::string kind, std::optional<std::vector<WidgetFamily>> families)
      : kind_(std::move(kind)), families_(std::move(families)) {}
  StaticConfiguration body() const override {
    StaticConfiguration configuration(kind_, std::make_shared<const NoProvider>(),
                                      [](const TestEntry&) { return render::Text("x"); });
    if (families_) return std::move(configuration).supportedFamilies(*families_);
    return configuration;
  }

 private:
  std::string kind_;
  std::optional<std::vector<WidgetFamily>> families_;
};

class ThreeWidgets final : public WidgetBundle {
 public:
  std::vector<std::unique_ptr<Widget>> body() const override {
    std::vector<std::unique_ptr<Widget>> widgets;
    widgets.push_back(std::make_unique<NamedWidget>("A", std::vector{WidgetFamily::systemSmall}));
    widgets.push_back(std::make_unique<NamedWidget>(
        "B", std::vector{WidgetFamily::systemMedium, WidgetFamily::systemSmall}));
    widgets.push_back(std::make_unique<NamedWidget>("C", std::nullopt));
    return widgets;
  }
};

TEST(PlacedWidget, EveryWidgetInEachOfItsFamiliesInBundleOrder) {
  const auto placed = placeWidgets(ThreeWidgets());
  std::vector<std::string> names;
  for (const PlacedWidget& widget : placed) names.push_back(widget.snapshotFileName());
  EXPECT_EQ(names, (std::vector<std::string>{"A-systemSmall.png", "B-systemMedium.png", "B-systemSmall.png",
                                             "C-systemSmall.png", "C-systemMedium.png"}));
  EXPECT_EQ(placed[1].context(true).displaySize.width, 364);
  EXPECT_EQ(placed[1].context(true).displaySize.height, 170);
  EXPECT_TRUE(placed[1].context(true).isPreview);
  EXPECT_EQ(placed[0].context(false).displaySize.width, 170);
}

TEST(HomeScreen, TwoSmallTilesShareARowAMediumOneTakesItsOwn) {
  const HomeScreen screen = HomeScreen::arrange({{170, 170}, {170, 170}, {364, 170}, {170, 170}});
  ASSERT_EQ(screen.tiles.size(), 4U);
  const double m = HomeScreen::margin;
  EXPECT_DOUBLE_EQ(screen.tiles[0].x, m);
  EXPECT_DOUBLE_EQ(screen.tiles[1].x, m + 170 + HomeScreen::gap);
  EXPECT_DOUBLE_EQ(screen.tiles[1].y, m);
  EXPECT_DOUBLE_EQ(screen.tiles[2].x, m);
  EXPECT_DOUBLE_EQ(screen.tiles[2].y, m + 170 + HomeScreen::gap);
  EXPECT_DOUBLE_EQ(screen.tiles[3].y, m + 2 * (170 + HomeScreen::gap));
  EXPECT_DOUBLE_EQ(screen.tiles[1].maxX(), screen.tiles[2].maxX());
  EXPECT_DOUBLE_EQ(screen.size.width, 364 + 2 * m);
  EXPECT_DOUBLE_EQ(screen.size.height, 3 * 170 + 2 * HomeScreen::gap + 2 * m);
}

TEST(HostOptions, ParsesTheCommandLine) {
  struct Case {
    std::vector<std::string> arguments;
    std::optional<HostOptions::Mode> mode;  // nothing: an error
    std::string directory;
  };
  const std::vector<Case> cases = {
      {{}, HostOptions::Mode::window, ""},
      {{"--snapshot", "out"}, HostOptions::Mode::snapshot, "out"},
      {{"--snapshot=out dir"}, HostOptions::Mode::snapshot, "out dir"},
      {{"--gallery", "/tmp/g"}, HostOptions::Mode::gallery, "/tmp/g"},
      {{"--help"}, HostOptions::Mode::help, ""},
      {{"--snapshot"}, std::nullopt, ""},
      {{"--snapshot="}, std::nullopt, ""},
      {{"--snapshot", "a", "--gallery", "b"}, std::nullopt, ""},
      {{"--frobnicate"}, std::nullopt, ""},
      {{"stray"}, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    const auto parsed = HostOptions::parse(c.arguments);
    const std::string what = c.arguments.empty() ? "(none)" : c.arguments.front();
    if (!c.mode) {
      EXPECT_TRUE(std::holds_alternative<std::string>(parsed)) << what;
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<HostOptions>(parsed)) << what << ": " << std::get<std::string>(parsed);
    EXPECT_EQ(std::get<HostOptions>(parsed).mode, *c.mode) << what;
    EXPECT_EQ(std::get<HostOptions>(parsed).directory, c.directory) << what;
  }
}

ViewTimeline timelineAt(std::vector<double> entrySeconds, double reloadSeconds) {
  ViewTimeline timeline{{}, TimelineReloadPolicy::after(dateFromSecondsSince1970(reloadSeconds))};
  for (double seconds : entrySeconds)
    timeline.entries.push_back({dateFromSecondsSince1970(seconds), render::Text("e")});
  return timeline;
}

TEST(TimelineSchedule, ShowsTheEntryDueAndWakesAtTheNextChange) {
  struct Case {
    std::vector<double> entries;
    double reload;
    double now;
    std::optional<std::size_t> due;
    double next;
    bool reloadDue;
  };
  const std::vector<Case> cases = {
      {{100}, 3700, 100, 0, 3700, false},
      {{100}, 3700, 3700, 0, 3700, true},
      {{100, 200, 300}, 1000, 250, 1, 300, false},
      {{100, 200, 300}, 1000, 50, 0, 100, false},  // all ahead: the first shows
      {{100, 200, 300}, 250, 150, 0, 200, false},
      {{}, 500, 0, std::nullopt, 500, false},
  };
  for (const Case& c : cases) {
    const ViewTimeline timeline = timelineAt(c.entries, c.reload);
    const Date now = dateFromSecondsSince1970(c.now);
    EXPECT_EQ(TimelineSchedule::entryDue(timeline, now), c.due) << c.now;
    EXPECT_DOUBLE_EQ(secondsSince1970(TimelineSchedule::nextChange(timeline, now)), c.next) << c.now;
    EXPECT_EQ(TimelineSchedule::reloadDue(timeline, now), c.reloadDue) << c.now;
  }
}

// Sets TZ for one test and puts the old value back.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  TimeZone(const TimeZone&) = delete;
  TimeZone& operator=(const TimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(Calendar, AnHourLaterIsOneElapsedHourAlsoWhenTheClocksChange) {
  struct Case {
    const char* zone;
    double start;
    std::optional<double> later;
  };
  const std::vector<Case> cases = {
      {"UTC", 1700000000.5, 1700003600.5},
      // New York, 2024-03-10 01:30 EST: the clocks jump from 02:00 to 03:00.
      {"America/New_York", 1710052200, 1710055800},
      // New York, 2024-11-03 01:30 EDT: the clocks go back from 02:00 to 01:00.
      {"America/New_York", 1730611800, 1730615400},
      // Lord Howe Island moves its clocks by half an hour (2024-04-07 01:45 +11).
      {"Australia/Lord_Howe", 1712414700, 1712418300},
      {"Europe/Berlin", 0, 3600},
      // Before 1970 and fractions below zero.
      {"UTC", -0.25, 3599.75},
      // No calendar date at all.
      {"UTC", std::numeric_limits<double>::quiet_NaN(), std::nullopt},
      {"UTC", std::numeric_limits<double>::infinity(), std::nullopt},
      {"UTC", 1e300, std::nullopt},
  };
  for (const Case& c : cases) {
    const TimeZone zone(c.zone);
    const auto later = Calendar::current().dateByAddingHours(1, dateFromSecondsSince1970(c.start));
    ASSERT_EQ(later.has_value(), c.later.has_value()) << c.zone << " " << c.start;
    if (later) {
      EXPECT_DOUBLE_EQ(secondsSince1970(*later), *c.later) << c.zone << " " << c.start;
    }
  }
}

}  // namespace
}  // namespace platform::widgethost
