#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/widgethost/LiveTimelines.h"

namespace platform::widgethost {
namespace {

struct CountEntry {
  Date date;
  int number;
};

// Answers each timeline request with one entry showing how many requests came so far,
// to be asked again `reloadAfter` later. Counts per provider.
class CountingProvider final : public TimelineProvider<CountEntry> {
 public:
  explicit CountingProvider(std::chrono::duration<double> reloadAfter, bool answers = true)
      : reloadAfter_(reloadAfter), answers_(answers) {}
  CountEntry placeholder(const TimelineProviderContext&) const override { return {}; }
  void getSnapshot(const TimelineProviderContext&,
                   const std::function<void(CountEntry)>& completion) const override {
    completion({});
  }
  void getTimeline(const TimelineProviderContext& context,
                   const std::function<void(Timeline<CountEntry>)>& completion) const override {
    EXPECT_FALSE(context.isPreview);
    const int number = ++requests_;
    if (!answers_) return;
    const Date now = Clock::system().now();
    completion({{{now, number}}, TimelineReloadPolicy::after(now + reloadAfter_)});
  }

 private:
  std::chrono::duration<double> reloadAfter_;
  bool answers_;
  mutable int requests_ = 0;
};

PlacedWidget placedWith(std::shared_ptr<const CountingProvider> provider) {
  StaticConfiguration configuration("Count", std::move(provider), [](const CountEntry& entry) {
    return render::Text(std::to_string(entry.number));
  });
  return {std::move(configuration), WidgetFamily::systemSmall};
}

std::string shownText(const LiveTimelines& timelines, std::size_t index) {
  const render::View* view = timelines.shownView(index);
  if (view == nullptr) return "(none)";
  return std::get<render::Text>(view->node()).content;
}

// Runs the default main context until `done` holds or `seconds` have passed.
bool spinUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(2000);
  }
  return true;
}

TEST(LiveTimelines, AsksAtOnceOnReloadAndAgainAfterTheReloadDate) {
  int changes = 0;
  LiveTimelines timelines(
      {placedWith(std::make_shared<const CountingProvider>(std::chrono::seconds(1))),
       placedWith(std::make_shared<const CountingProvider>(std::chrono::hours(1))),
       placedWith(std::make_shared<const CountingProvider>(std::chrono::hours(1), false))},
      Clock::system(), [&changes] { ++changes; });
  // Every placed widget is asked at once and shows its entry.
  EXPECT_EQ(timelines.timelineRequests(0), 1);
  EXPECT_EQ(timelines.timelineRequests(1), 1);
  EXPECT_EQ(shownText(timelines, 0), "1");
  EXPECT_EQ(shownText(timelines, 1), "1");
  // A provider that never answers shows nothing, and nothing breaks.
  EXPECT_EQ(shownText(timelines, 2), "(none)");
  EXPECT_EQ(changes, 1);

  timelines.reloadAll();
  EXPECT_EQ(timelines.timelineRequests(0), 2);
  EXPECT_EQ(timelines.timelineRequests(1), 2);
  EXPECT_EQ(shownText(timelines, 1), "2");
  EXPECT_EQ(changes, 2);

  // Once its reload date has passed the first widget is asked again; the second,
  // whose date is an hour away, is not.
  ASSERT_TRUE(spinUntil([&] { return timelines.timelineRequests(0) >= 3; }, 10));
  EXPECT_EQ(shownText(timelines, 0), "3");
  EXPECT_EQ(timelines.timelineRequests(1), 2);
  EXPECT_GE(changes, 3);
}

}  // namespace
}  // namespace platform::widgethost
