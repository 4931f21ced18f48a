#include <gtest/gtest.h>
#include <pthread.h>

#include <array>
#include <atomic>
#include <latch>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/WorkerPool.h"

namespace platform::dispatch {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Items posted from several threads, and from an item, run one at a time on the queue's
// own thread (named after its label), in each poster's order; the queue drains when it
// goes. That they run one at a time in the order posted the frame pipe's tests show too.
TEST(SerialQueueTest, RunsItemsInEachPostersOrderOnItsNamedThreadAndDrainsOnDestruction) {
  constexpr int kThreads = 4, kItems = 2000;
  std::array<int, kThreads> lastSeen{-1, -1, -1, -1};
  int faults = 0;  // items out of their poster's order
  std::vector<int> nested;
  std::array<char, 16> name{};
  {
    SerialQueue queue("com.tarnwell.sorn.screenpipe");
    std::latch hold(1);
    queue.async([&] {  // held, so that the items below queue up behind it
      pthread_getname_np(pthread_self(), name.data(), name.size());
      hold.wait();
    });
    std::vector<std::jthread> posters;
    for (std::size_t t = 0; t < kThreads; ++t) {
      posters.emplace_back([&, t] {
        for (int i = 0; i < kItems; ++i)
          queue.async([&, t, i] { faults += std::exchange(lastSeen[t], i) != i - 1; });
      });
    }
    posters.clear();
    queue.async([&] {
      queue.async([&nested] { nested.push_back(2); });
      nested.push_back(1);
    });
    hold.count_down();
  }
  EXPECT_STREQ(name.data(), "com.tarnwell.so");
  EXPECT_EQ(faults, 0);
  for (int last : lastSeen) EXPECT_EQ(last, kItems - 1);
  EXPECT_EQ(nested, (std::vector<int>{1, 2}));
}

TEST(WorkerPoolTest, BlockedTasksNeverHoldUpOthersIdleWorkersAreReusedAndItDrainsOnDestruction) {
  std::atomic<int> ran{0};
  {
    WorkerPool pool("test-pool");
    // Each task waits for all the others, bounded so that a pool running them one by one
    // fails instead of hanging.
    constexpr int kTasks = 8;
    std::latch allArrived(kTasks);
    std::atomic<int> metAll{0};
    for (int i = 0; i < kTasks; ++i) {
      pool.async([&] {
        allArrived.count_down();
        for (int wait = 0; wait < 2000 && !allArrived.try_wait(); ++wait) std::this_thread::sleep_for(5ms);
        metAll += allArrived.try_wait() ? 1 : 0;
      });
    }
    ASSERT_TRUE(pool.waitUntilIdle(Clock::now() + 20s));
    EXPECT_EQ(metAll.load(), kTasks);
    std::latch release(1);
    pool.async([&] { release.wait(); });
    EXPECT_FALSE(pool.waitUntilIdle(Clock::now() + 50ms));
    release.count_down();
    EXPECT_TRUE(pool.waitUntilIdle(Clock::now() + 10s));
    EXPECT_EQ(pool.threadCount(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < 20; ++i) pool.async([&ran] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 20);
}

}  // namespace
}  // namespace platform::dispatch
