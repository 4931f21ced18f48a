#include <gtest/gtest.h>

#include <latch>

#include "broadcast/ScreenFramePipe.h"
#include "tests/broadcast/FakeSample.h"

namespace broadcast {
namespace {

using test::fakeSampleStats;

const ScreenShareSignaling kSignaling{"https://api.example.test/v1/api", "token", "lounge"};

// Each case plays a script on a fresh pipe: S start, T stop, F submit a new frame, H hold
// the queue with a latch (work queued meanwhile waits), R release it. A start or stop
// outside a hold is waited for, so that the frames after it see it.
TEST(ScreenFramePipeTest, OrderingOfStartSubmitAndStop) {
  struct Case {
    const char* name;
    std::string script;
    int heldAtRelease;  // samples alive when R runs: what the pipe holds
    std::int64_t received, dropped;
    int imageLookups;   // frame work that ran
    bool nextAccepted;  // one more frame afterwards is taken
  };
  const Case cases[] = {
      {"frames before the first start are neither held nor counted", "FF", -1, 0, 0, 0, false},
      {"a frame arriving while one is in flight is dropped", "SHFFR", 1, 1, 1, 1, true},
      {"after stop frames are ignored and the counters kept", "SHFFRTF", 1, 1, 1, 1, false},
      {"a second start runs after the frame in flight and resets", "SHFSR", 1, 0, 0, 1, true},
      {"a frame accepted before the stop work ran is not worked and frees the claim", "SHTFRS", 1, 0, 0, 0,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakeSampleStats().imageLookups = 0;
    ScreenFramePipe pipe;
    std::latch gate(1);
    bool held = false;
    for (char op : c.script) {
      if (op == 'S' || op == 'T') {
        op == 'S' ? pipe.start(kSignaling, "scr-1", "screen-ios-1") : pipe.stop();
        if (!held) (void)pipe.counters();
      } else if (op == 'F') {
        pipe.submit(test::makeFakeSample());
      } else if (op == 'H') {
        pipe.queue().async([&gate] { gate.wait(); });
        held = true;
      } else if (op == 'R') {
        EXPECT_EQ(fakeSampleStats().alive.load(), c.heldAtRelease);
        gate.count_down();
        held = false;
      }
    }
    const auto counters = pipe.counters();
    EXPECT_EQ(counters.framesReceived, c.received);
    EXPECT_EQ(counters.framesDropped, c.dropped);
    EXPECT_EQ(fakeSampleStats().imageLookups.load(), c.imageLookups);
    EXPECT_EQ(fakeSampleStats().alive.load(), 0);
    pipe.submit(test::makeFakeSample());
    EXPECT_EQ(pipe.counters().framesReceived, c.received + (c.nextAccepted ? 1 : 0));
  }
}

TEST(ScreenFramePipeTest, SubmittingThreadsNeverPutTwoFramesInFlight) {
  auto& pipe = ScreenFramePipe::shared();
  EXPECT_EQ(pipe.queue().label(), "com.tarnwell.sorn.screenpipe");
  pipe.start(kSignaling, "scr-1", "screen-ios-1");
  // The start runs on the pipe's queue and resets the counters: frames submitted before it
  // ran would go uncounted.
  pipe.queue().sync([] {});
  // One sample the test holds throughout: every reference beyond its own is the pipe's.
  auto sample = test::makeFakeSample();
  fakeSampleStats().mostReferences = 1;
  constexpr int kFrames = 20000;
  std::latch go(2);
  std::vector<std::jthread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      go.arrive_and_wait();
      for (int i = 0; i < kFrames; ++i) pipe.submit(sample);
    });
  }
  threads.clear();
  const auto counters = pipe.counters();
  EXPECT_LE(fakeSampleStats().mostReferences.load(), 2);
  EXPECT_EQ(counters.framesReceived + counters.framesDropped, 2 * kFrames);
  EXPECT_GT(counters.framesReceived, 0);
  EXPECT_EQ(static_cast<test::FakeSample*>(sample.get())->references.load(), 1);
  pipe.stop();
}

}  // namespace
}  // namespace broadcast
