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
  std::vector<int> completions(kThreads), unexpected(kThreads);
  std::thread writer([&] {
    while (!start) std::this_thread::yield();
    for (std::int64_t i = 0; !stop; ++i) {
      if (auto store = shared::SharedStore::open()) {
        store->write(shared::StoreChanges()
                         .setInteger(shared::keys::kStreakDays, i)
                         .setInteger(shared::keys::kVoiceSeconds, 60 * i));
      }
    }
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      while (!start) std::this_thread::yield();
      placeholders[t] = &WidgetStats::placeholder();
      for (int round = 0; round < kRounds; ++round) {
        StatsProvider().getTimeline({}, [&](platform::widgethost::Timeline<StatsEntry> timeline) {
          ++completions[t];
          const WidgetStats& stats = timeline.entries.at(0).stats;
          if (stats.voiceSeconds != 60 * stats.streakDays || stats.streakDays < 0) ++unexpected[t];
        });
      }
    });
  }
  start = true;
  for (auto& reader : readers) reader.join();
  stop = true;
  writer.join();
  EXPECT_EQ(placeholders, std::vector<const WidgetStats*>(kThreads, placeholders[0]));
  EXPECT_EQ(completions, std::vector<int>(kThreads, kRounds));
  EXPECT_EQ(unexpected, std::vector<int>(kThreads, 0));
  EXPECT_EQ(placeholders[0]->voiceSeconds, 18240);
}

}  // namespace
}  // namespace widgets
