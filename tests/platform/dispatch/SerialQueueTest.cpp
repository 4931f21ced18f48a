#include <gtest/gtest.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <latch>

#include "platform/dispatch/SerialQueue.h"

namespace platform::dispatch {
namespace {

TEST(SerialQueueTest, ThreadNameIsTheLabelCutToFifteenCharacters) {
  EXPECT_EQ(SerialQueue::threadNameFor("exactly15chars!"), "exactly15chars!");
  SerialQueue queue("com.tarnwell.sorn.screenpipe");
  std::array<char, 16> name{};
  queue.sync([&name] { pthread_getname_np(pthread_self(), name.data(), name.size()); });
  EXPECT_STREQ(name.data(), "com.tarnwell.so");
}

TEST(SerialQueueTest, RunsItemsInPostOrderOnItsOwnThreadAndDrainsOnDestruction) {
  std::vector<int> ran;  // written on the queue only
  std::thread::id queueThread;
  {
    SerialQueue queue("order");
    std::latch hold(1);
    // Held, so every item below is queued before any runs.
    queue.async([&] {
      queueThread = std::this_thread::get_id();
      hold.wait();
    });
    for (int i = 0; i < 100; ++i) {
      queue.async([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), queueThread);
        ran.push_back(i);
      });
    }
    // An item posted from an item runs after it.
    queue.async([&] { queue.async([&ran] { ran.push_back(101); }); ran.push_back(100); });
    hold.count_down();
  }
  ASSERT_EQ(ran.size(), 102U);
  for (int i = 0; i < 102; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  EXPECT_NE(queueThread, std::this_thread::get_id());
}

TEST(SerialQueueTest, ItemsFromManyThreadsRunSeriallyAndKeepEachThreadsOrder) {
  SerialQueue queue("producers");
  constexpr int kThreads = 4;
  constexpr int kItems = 2000;
  std::array<int, kThreads> lastSeen{-1, -1, -1, -1};
  std::atomic<int> running{0};
  int faults = 0;  // overlaps and items out of their thread's order
  std::vector<std::jthread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kItems; ++i) {
        queue.async([&, t, i] {
          if (running.fetch_add(1) != 0) ++faults;
          if (std::exchange(lastSeen[static_cast<std::size_t>(t)], i) != i - 1) ++faults;
          running.fetch_sub(1);
        });
      }
    });
  }
  producers.clear();
  queue.sync([] {});
  EXPECT_EQ(faults, 0);
  for (int last : lastSeen) EXPECT_EQ(last, kItems - 1);
}

}  // namespace
}  // namespace platform::dispatch
