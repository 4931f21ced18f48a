#include <gtest/gtest.h>

#include <latch>
#include <vector>

#include "broadcast/ScreenFramePipe.h"
#include "tests/broadcast/FakeSample.h"

namespace broadcast {
namespace {

// Each case plays a script on a fresh pipe: S start, T stop, F submit a new frame, H hold
// the queue with a latch (work queued meanwhile waits), R release it. A start or stop
// outside a hold is waited for, so that the frames after it see it. Two submitting
// threads at once are the stress test's.
TEST(ScreenFramePipeTest, OrderingOfStartSubmitAndStop) {
  struct Case {
    const char* name;
    std::string script;
    int heldAtRelease;  // frames the pipe holds when R runs
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
    test::imageLookups = 0;
    std::vector<platform::screencast::SampleBuffer> submitted;
    ScreenFramePipe pipe;
    std::latch gate(1);
    bool held = false;
    for (char op : c.script) {
      if (op == 'S' || op == 'T') {
        op == 'S'
            ? pipe.start({"https://api.example.test/v1/api", "token", "lounge"}, "scr-1", "screen-ios-1")
            : pipe.stop();
        if (!held) (void)pipe.counters();
      } else if (op == 'F') {
        pipe.submit(submitted.emplace_back(test::makeFakeSample()));
      } else if (op == 'H') {
        pipe.queue().async([&gate] { gate.wait(); });
        held = true;
      } else if (op == 'R') {
        EXPECT_EQ(test::held.load(), c.heldAtRelease);
        gate.count_down();
        held = false;
      }
    }
    const auto counters = pipe.counters();
    EXPECT_EQ(counters.framesReceived, c.received);
    EXPECT_EQ(counters.framesDropped, c.dropped);
    EXPECT_EQ(test::imageLookups.load(), c.imageLookups);
    EXPECT_EQ(test::held.load(), 0);
    pipe.submit(test::makeFakeSample());
    EXPECT_EQ(pipe.counters().framesReceived, c.received + (c.nextAccepted ? 1 : 0));
  }
}

}  // namespace
}  // namespace broadcast
