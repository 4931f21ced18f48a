#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"
#include "widgets/StatsProvider.h"
#include "widgets/WidgetStats.h"

namespace widgets {
namespace {

// The one-time placeholder is made once however many threads ask first, and providers
// called from many threads while the app writes each complete exactly once with a
// record as some write left it.
TEST(WidgetConcurrency, PlaceholderOnceAndProvidersFromManyThreads) {
  const testsupport::TempDataDir dir;
  ASSERT_TRUE(shared::SharedStore::open());

  constexpr int kThreads = 6;
  constexpr int kRounds = 200;
  std::atomic<bool> start{false};
  std::atomic<bool> stop{false};
  std::vector<const WidgetStats*> placeholders(kThreads);
  std::vector<int> completions(kThreads);
  std::vector<int> unexpected(kThreads);

  std::thread writer([&] {
    while (!start) std::this_thread::yield();
    for (std::int64_t i = 0; !stop; ++i) {
      auto store = shared::SharedStore::open();
      if (!store) continue;
      // Every write keeps voice = 60 * streak, so a torn record is only a mix of two
      // whole writes, never a value nobody wrote.
      store->setInteger(shared::keys::kStreakDays, i);
      store->setInteger(shared::keys::kVoiceSeconds, 60 * i);
    }
  });

  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      while (!start) std::this_thread::yield();
      placeholders[t] = &WidgetStats::placeholder();
      const StatsProvider provider;
      const platform::widgethost::TimelineProviderContext context{};
      for (int round = 0; round < kRounds; ++round) {
        provider.getTimeline(context, [&](platform::widgethost::Timeline<StatsEntry> timeline) {
          ++completions[t];
          const WidgetStats& stats = timeline.entries.at(0).stats;
          if (stats.voiceSeconds % 60 != 0 || stats.streakDays < 0) ++unexpected[t];
        });
      }
    });
  }
  start = true;
  for (auto& reader : readers) reader.join();
  stop = true;
  writer.join();

  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(placeholders[t], placeholders[0]);
    EXPECT_EQ(completions[t], kRounds);
    EXPECT_EQ(unexpected[t], 0);
  }
  EXPECT_EQ(placeholders[0]->voiceSeconds, 18240);
}

}  // namespace
}  // namespace widgets
