#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"
#include "widgets/StatsProvider.h"

namespace widgets {
namespace {

// The placeholder is made once however many threads ask first, and providers called
// from many threads while the app writes whole records each complete exactly once,
// with a record as one write left it (voice is always 60 times the streak).
TEST(WidgetConcurrency, PlaceholderOnceAndProvidersFromManyThreads) {
  const testsupport::TempDataDir dir;
  ASSERT_TRUE(shared::SharedStore::open());
  constexpr int kThreads = 6, kRounds = 1000;
  std::atomic<bool> start{false}, stop{false};
  std::vector<const WidgetStats*> placeholders(kThreads);
  std::vector<int> completions(kThreads), torn(kThreads);
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!start) std::this_thread::yield();
    for (std::int64_t i = 0; !stop; ++i) {
      shared::SharedStore::open()->write(shared::StoreChanges()
                                             .setInteger(shared::keys::kStreakDays, i)
                                             .setInteger(shared::keys::kVoiceSeconds, 60 * i));
    }
  });
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!start) std::this_thread::yield();
      placeholders[t] = &WidgetStats::placeholder();
      for (int round = 0; round < kRounds; ++round) {
        StatsProvider().getTimeline({}, [&](platform::widgethost::Timeline<StatsEntry> timeline) {
          const WidgetStats& stats = timeline.entries.at(0).stats;
          ++completions[t];
          torn[t] += stats.voiceSeconds != 60 * stats.streakDays || stats.streakDays < 0 ? 1 : 0;
        });
      }
    });
  }
  start = true;
  for (std::size_t t = 1; t < threads.size(); ++t) threads[t].join();
  stop = true;
  threads[0].join();
  EXPECT_EQ(placeholders, std::vector<const WidgetStats*>(kThreads, placeholders[0]));
  EXPECT_EQ(completions, std::vector<int>(kThreads, kRounds));
  EXPECT_EQ(torn, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace widgets
