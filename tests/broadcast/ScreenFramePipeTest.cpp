#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "broadcast/ScreenFramePipe.h"

namespace broadcast {
namespace {

using platform::screencast::SampleBuffer;

// Samples are counted objects and the test keeps a reference to every sample it submits,
// so a reference beyond its own is the pipe's: `held` counts the samples the pipe holds,
// `mostHeld` the most it ever held at once. The image lookup is slow, so frames pile up.
std::atomic<int> held{0}, mostHeld{0}, imageLookups{0};
const platform::screencast::SampleBufferKind kCountedSample{
    [](void* sample) {
      if (static_cast<std::atomic<int>*>(sample)->fetch_add(1) != 1) return;
      for (int now = ++held, most = mostHeld; now > most && !mostHeld.compare_exchange_weak(most, now);) {
      }
    },
    [](void* sample) {
      const int left = static_cast<std::atomic<int>*>(sample)->fetch_sub(1) - 1;
      if (left == 1) --held;
      if (left == 0) delete static_cast<std::atomic<int>*>(sample);
    },
    [](void* sample) -> void* {
      ++imageLookups;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return sample;
    },
    [](void*) {},
};
SampleBuffer sample() { return SampleBuffer::adopt(new std::atomic<int>(1), kCountedSample); }
void start(ScreenFramePipe& pipe) {
  pipe.start({"https://api.example.test/v1/api", "t", "lounge"}, "s", "n");
}

// Each case plays a script on a fresh pipe: S start, T stop, F submit a new frame, H hold
// the queue with a latch (work queued meanwhile waits), R release it. A start or stop
// outside a hold is waited for, so that the frames after it see it.
TEST(ScreenFramePipeTest, OrderingOfStartSubmitAndStop) {
  struct Case {
    const char* name;
    std::string script;
    int heldAtRelease;
    std::int64_t received, dropped;
    int imageLookups;
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
    imageLookups = 0;
    std::vector<SampleBuffer> submitted;
    ScreenFramePipe pipe;
    std::latch gate(1);
    bool holding = false;
    for (char op : c.script) {
      if (op == 'S' || op == 'T') {
        op == 'S' ? start(pipe) : pipe.stop();
        if (!holding) (void)pipe.counters();
      } else if (op == 'F') {
        pipe.submit(submitted.emplace_back(sample()));
      } else if (op == 'H') {
        pipe.queue().async([&gate] { gate.wait(); });
        holding = true;
      } else if (op == 'R') {
        EXPECT_EQ(held.load(), c.heldAtRelease);
        gate.count_down();
        holding = false;
      }
    }
    const auto counters = pipe.counters();
    EXPECT_EQ(counters.framesReceived, c.received);
    EXPECT_EQ(counters.framesDropped, c.dropped);
    EXPECT_EQ(imageLookups.load(), c.imageLookups);
    EXPECT_EQ(held.load(), 0);
    pipe.submit(sample());
    EXPECT_EQ(pipe.counters().framesReceived, c.received + (c.nextAccepted ? 1 : 0));
  }
}

// Two capture threads each submit at ten times a 30 fps capture rate for two seconds
// while the frame work is slower than that: the pipe never holds more than one frame,
// every frame is either received or dropped, and none is kept once it stops.
TEST(ScreenFramePipeTest, TwoThreadsAtTenTimesTheCaptureRateNeverMakeItHoldTwoFrames) {
  auto& pipe = ScreenFramePipe::shared();
  start(pipe);
  (void)pipe.counters();
  mostHeld = 0;
  constexpr auto kInterval = std::chrono::microseconds(1'000'000 / 300);
  constexpr int kFramesEach = 600;
  std::vector<std::vector<SampleBuffer>> made(2);  // kept until the pipe drained
  {
    std::vector<std::jthread> capture;
    for (auto& samples : made) {
      capture.emplace_back([&pipe, &samples, kInterval] {
        const auto begin = std::chrono::steady_clock::now();
        for (int frame = 0; frame < kFramesEach; ++frame) {
          std::this_thread::sleep_until(begin + frame * kInterval);
          pipe.submit(samples.emplace_back(sample()));
        }
      });
    }
  }
  pipe.stop();
  const auto counters = pipe.counters();
  EXPECT_EQ(mostHeld.load(), 1);
  EXPECT_EQ(held.load(), 0);
  EXPECT_EQ(counters.framesReceived + counters.framesDropped, 2 * kFramesEach);
  EXPECT_GT(counters.framesDropped, 0);
}

}  // namespace
}  // namespace broadcast
