#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include "platform/dispatch/WorkerPool.h"

namespace platform::dispatch {
namespace {

using namespace std::chrono_literals;

bool idleWithin(WorkerPool& pool, std::chrono::milliseconds limit) {
  return pool.waitUntilIdle(std::chrono::steady_clock::now() + limit);
}

TEST(WorkerPoolTest, BlockedTasksNeverHoldUpOthers) {
  WorkerPool pool("test-pool");
  constexpr int kTasks = 8;
  std::latch allArrived(kTasks);
  std::atomic<int> metAll{0};
  // Each task waits for all the others, bounded so a pool that runs them one by one fails
  // instead of hanging.
  for (int i = 0; i < kTasks; ++i) {
    pool.async([&] {
      allArrived.count_down();
      for (int wait = 0; wait < 2000 && !allArrived.try_wait(); ++wait) std::this_thread::sleep_for(5ms);
      if (allArrived.try_wait()) metAll.fetch_add(1);
    });
  }
  ASSERT_TRUE(idleWithin(pool, 20s));
  EXPECT_EQ(metAll.load(), kTasks);
  EXPECT_EQ(pool.threadCount(), static_cast<std::size_t>(kTasks));
}

TEST(WorkerPoolTest, ReusesIdleWorkersWaitsUntilIdleToTheDeadlineAndDrainsOnDestruction) {
  std::atomic<int> ran{0};
  {
    WorkerPool pool("test-pool");
    for (int i = 0; i < 5; ++i) {
      std::thread::id ranOn;
      pool.async([&ranOn] { ranOn = std::this_thread::get_id(); });
      ASSERT_TRUE(idleWithin(pool, 10s));
      EXPECT_NE(ranOn, std::this_thread::get_id());
    }
    EXPECT_EQ(pool.threadCount(), 1U);
    std::latch started(1);
    std::latch release(1);
    pool.async([&] {
      started.count_down();
      release.wait();
    });
    started.wait();
    EXPECT_FALSE(idleWithin(pool, 50ms));
    release.count_down();
    EXPECT_TRUE(idleWithin(pool, 10s));
    for (int i = 0; i < 20; ++i) pool.async([&ran] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 20);
}

}  // namespace
}  // namespace platform::dispatch
