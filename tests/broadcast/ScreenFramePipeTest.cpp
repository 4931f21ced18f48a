#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "broadcast/ScreenFramePipe.h"
#include "tests/broadcast/FakeSample.h"

namespace broadcast {
namespace {

using test::fakeSampleStats;
using test::makeFakeSample;

const ScreenShareSignaling kSignaling{"https://api.example.test/v1/api", "token", "lounge"};

class ScreenFramePipeTest : public ::testing::Test {
 protected:
  void SetUp() override { fakeSampleStats().reset(); }

  // Keeps the pipe's queue busy until release(), so work queued meanwhile waits.
  void holdQueue() {
    gate_ = std::make_unique<std::latch>(1);
    pipe.queue().async([gate = gate_.get()] { gate->wait(); });
  }
  void release() { gate_->count_down(); }

  void submitNewFrame() { pipe.submit(makeFakeSample()); }
  // Starts the pipe and waits until the start work has run.
  void startAndSettle(const std::string& screenSessionId) {
    pipe.start(kSignaling, screenSessionId, "screen-ios-1");
    (void)pipe.counters();
  }

  ScreenFramePipe pipe;

 private:
  std::unique_ptr<std::latch> gate_;
};

TEST_F(ScreenFramePipeTest, FramesBeforeTheFirstStartAreNeitherHeldNorCounted) {
  submitNewFrame();
  submitNewFrame();
  EXPECT_EQ(fakeSampleStats().alive.load(), 0);
  auto counters = pipe.counters();
  EXPECT_EQ(counters.framesReceived, 0);
  EXPECT_EQ(counters.framesDropped, 0);
}

TEST_F(ScreenFramePipeTest, AFrameArrivingWhileOneIsInFlightIsDroppedAndCounted) {
  startAndSettle("scr-1");
  holdQueue();
  submitNewFrame();
  submitNewFrame();
  // Only the accepted frame is held, by the pipe alone.
  EXPECT_EQ(fakeSampleStats().alive.load(), 1);
  release();
  auto counters = pipe.counters();
  EXPECT_EQ(counters.framesReceived, 1);
  EXPECT_EQ(counters.framesDropped, 1);
  EXPECT_EQ(fakeSampleStats().alive.load(), 0);
  EXPECT_EQ(fakeSampleStats().imageLookups.load(), 1);

  // Its work ran, so the next frame is accepted again.
  submitNewFrame();
  EXPECT_EQ(pipe.counters().framesReceived, 2);
}

TEST_F(ScreenFramePipeTest, AfterStopFramesAreIgnoredAndCountersKeptUntilTheNextStart) {
  startAndSettle("scr-1");
  holdQueue();
  submitNewFrame();
  submitNewFrame();
  release();
  pipe.stop();
  (void)pipe.counters();
  submitNewFrame();
  EXPECT_EQ(fakeSampleStats().alive.load(), 0);
  auto afterStop = pipe.counters();
  EXPECT_EQ(afterStop.framesReceived, 1);
  EXPECT_EQ(afterStop.framesDropped, 1);

  pipe.start(kSignaling, "scr-2", "screen-ios-2");
  auto afterStart = pipe.counters();
  EXPECT_EQ(afterStart.framesReceived, 0);
  EXPECT_EQ(afterStart.framesDropped, 0);
}

TEST_F(ScreenFramePipeTest, ASecondStartRunsAfterTheFrameInFlightAndResetsTheCounters) {
  startAndSettle("scr-1");
  holdQueue();
  submitNewFrame();
  pipe.start(kSignaling, "scr-2", "screen-ios-2");
  release();
  auto counters = pipe.counters();
  // The frame's work ran first, in the old run (its image buffer was looked up); the
  // start then set both counters to 0.
  EXPECT_EQ(fakeSampleStats().imageLookups.load(), 1);
  EXPECT_EQ(counters.framesReceived, 0);
  EXPECT_EQ(counters.framesDropped, 0);
  submitNewFrame();
  EXPECT_EQ(pipe.counters().framesReceived, 1);
}

TEST_F(ScreenFramePipeTest, AFrameAcceptedBeforeTheStopWorkRanIsNotCountedAndFreesTheClaim) {
  startAndSettle("scr-1");
  holdQueue();
  pipe.stop();
  submitNewFrame();  // the stop work has not run: still accepted
  EXPECT_EQ(fakeSampleStats().alive.load(), 1);
  release();
  auto counters = pipe.counters();
  EXPECT_EQ(counters.framesReceived, 0);
  EXPECT_EQ(fakeSampleStats().imageLookups.load(), 0);
  EXPECT_EQ(fakeSampleStats().alive.load(), 0);

  startAndSettle("scr-2");
  submitNewFrame();
  EXPECT_EQ(pipe.counters().framesReceived, 1);
}

TEST_F(ScreenFramePipeTest, SubmittingThreadsNeverPutTwoFramesInFlight) {
  startAndSettle("scr-1");
  // One sample, held by the test throughout: every reference beyond the test's own is
  // the pipe's, so its most references tell how many frames the pipe ever held at once.
  auto sample = makeFakeSample();
  constexpr int kThreads = 2;
  constexpr int kFrames = 20000;
  std::latch go(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      go.arrive_and_wait();
      for (int i = 0; i < kFrames; ++i) pipe.submit(sample);
    });
  }
  for (auto& thread : threads) thread.join();
  auto counters = pipe.counters();
  EXPECT_LE(fakeSampleStats().mostReferences.load(), 2);
  EXPECT_EQ(counters.framesReceived + counters.framesDropped, kThreads * kFrames);
  EXPECT_GT(counters.framesReceived, 0);
  EXPECT_EQ(test::referencesOf(sample), 1);
}

TEST(ScreenFramePipeSharedTest, SharedIsOneInstanceOnTheLabelledQueue) {
  EXPECT_EQ(&ScreenFramePipe::shared(), &ScreenFramePipe::shared());
  EXPECT_EQ(ScreenFramePipe::shared().queue().label(), "com.tarnwell.sorn.screenpipe");
}

}  // namespace
}  // namespace broadcast
