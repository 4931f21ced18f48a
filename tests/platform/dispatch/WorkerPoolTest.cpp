#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <thread>

#include "platform/dispatch/WorkerPool.h"

namespace platform::dispatch {
namespace {

using namespace std::chrono_literals;

// A gate the tasks wait at; the test opens it. Waiting is bounded so that a pool that
// fails to run tasks side by side fails the test instead of hanging it.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  // Counts the arrival, then waits until `expected` tasks arrived or the gate opens.
  bool arriveAndWaitFor(int expected) {
    std::unique_lock lock(mutex_);
    ++arrived_;
    changed_.notify_all();
    return changed_.wait_for(lock, 10s, [&] { return open_ || arrived_ >= expected; });
  }
  bool waitOpen() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int arrived_ = 0;
};

TEST(WorkerPoolTest, BlockedTasksNeverHoldUpOthers) {
  WorkerPool pool("test-pool");
  constexpr int kTasks = 8;
  Gate gate;
  std::atomic<int> metAll{0};
  for (int i = 0; i < kTasks; ++i) {
    pool.async([&] {
      if (gate.arriveAndWaitFor(kTasks)) metAll.fetch_add(1);
    });
  }
  ASSERT_TRUE(pool.waitUntilIdle(std::chrono::steady_clock::now() + 20s));
  EXPECT_EQ(metAll.load(), kTasks);
  EXPECT_EQ(pool.threadCount(), static_cast<std::size_t>(kTasks));
}

TEST(WorkerPoolTest, IdleWorkersAreReusedAndTasksRunOffTheCallersThread) {
  WorkerPool pool("test-pool");
  for (int i = 0; i < 5; ++i) {
    std::thread::id ranOn;
    pool.async([&ranOn] { ranOn = std::this_thread::get_id(); });
    ASSERT_TRUE(pool.waitUntilIdle(std::chrono::steady_clock::now() + 10s));
    EXPECT_NE(ranOn, std::this_thread::get_id());
  }
  EXPECT_EQ(pool.threadCount(), 1U);
}

TEST(WorkerPoolTest, WaitUntilIdleGivesUpAtTheDeadlineWhileATaskRuns) {
  WorkerPool pool("test-pool");
  Gate gate;
  std::latch started(1);
  pool.async([&] {
    started.count_down();
    gate.waitOpen();
  });
  started.wait();
  EXPECT_FALSE(pool.waitUntilIdle(std::chrono::steady_clock::now() + 50ms));
  gate.open();
  EXPECT_TRUE(pool.waitUntilIdle(std::chrono::steady_clock::now() + 10s));
}

TEST(WorkerPoolTest, DestructionRunsQueuedTasks) {
  std::atomic<int> ran{0};
  {
    WorkerPool pool("test-pool");
    for (int i = 0; i < 20; ++i) pool.async([&ran] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 20);
}

}  // namespace
}  // namespace platform::dispatch
