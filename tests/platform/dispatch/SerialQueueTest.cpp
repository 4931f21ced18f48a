#include <gtest/gtest.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "platform/dispatch/SerialQueue.h"

namespace platform::dispatch {
namespace {

TEST(SerialQueueTest, ThreadNameIsTheLabelCutToFifteenCharacters) {
  struct Case {
    const char* label;
    const char* threadName;
  };
  const Case cases[] = {
      {"short", "short"},
      {"exactly15chars!", "exactly15chars!"},
      {"com.tarnwell.sorn.screenpipe", "com.tarnwell.so"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SerialQueue::threadNameFor(c.label), c.threadName) << c.label;

  SerialQueue queue("com.tarnwell.sorn.screenpipe");
  std::array<char, 16> name{};
  queue.sync([&name] { pthread_getname_np(pthread_self(), name.data(), name.size()); });
  EXPECT_STREQ(name.data(), "com.tarnwell.so");
  EXPECT_EQ(queue.label(), "com.tarnwell.sorn.screenpipe");
}

TEST(SerialQueueTest, RunsItemsOneAtATimeInPostOrderOnItsOwnThread) {
  SerialQueue queue("order");
  std::vector<int> ran;  // written on the queue only
  std::thread::id queueThread;
  std::latch hold(1);
  // Held, so every item below is queued before any runs.
  queue.async([&hold, &queueThread] {
    queueThread = std::this_thread::get_id();
    hold.wait();
  });
  for (int i = 0; i < 100; ++i) {
    queue.async([&ran, &queueThread, i] {
      EXPECT_EQ(std::this_thread::get_id(), queueThread);
      ran.push_back(i);
    });
  }
  hold.count_down();
  queue.sync([] {});
  ASSERT_EQ(ran.size(), 100U);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  EXPECT_NE(queueThread, std::this_thread::get_id());
}

TEST(SerialQueueTest, AnItemPostedFromAnItemRunsAfterIt) {
  SerialQueue queue("nested");
  std::vector<const char*> ran;
  queue.sync([&] {
    queue.async([&ran] { ran.push_back("inner"); });
    ran.push_back("outer");
  });
  queue.sync([] {});
  ASSERT_EQ(ran.size(), 2U);
  EXPECT_STREQ(ran[0], "outer");
  EXPECT_STREQ(ran[1], "inner");
}

TEST(SerialQueueTest, DestructionRunsWhatIsStillQueued) {
  std::atomic<int> ran{0};
  {
    SerialQueue queue("drain");
    std::latch hold(1);
    queue.async([&hold] { hold.wait(); });
    for (int i = 0; i < 10; ++i) queue.async([&ran] { ran.fetch_add(1); });
    hold.count_down();
  }
  EXPECT_EQ(ran.load(), 10);
}

TEST(SerialQueueTest, ItemsFromManyThreadsRunSeriallyAndKeepEachThreadsOrder) {
  SerialQueue queue("producers");
  constexpr int kThreads = 4;
  constexpr int kItems = 2000;
  std::array<int, kThreads> lastSeen{};
  lastSeen.fill(-1);
  std::atomic<int> running{0};
  int outOfOrder = 0;
  int overlapping = 0;
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kItems; ++i) {
        queue.async([&, t, i] {
          if (running.fetch_add(1) != 0) ++overlapping;
          if (lastSeen[static_cast<std::size_t>(t)] != i - 1) ++outOfOrder;
          lastSeen[static_cast<std::size_t>(t)] = i;
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& producer : producers) producer.join();
  queue.sync([] {});
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(overlapping, 0);
  for (int last : lastSeen) EXPECT_EQ(last, kItems - 1);
}

}  // namespace
}  // namespace platform::dispatch
