#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "broadcast/ScreenFramePipe.h"

namespace {

using platform::screencast::SampleBuffer;

// Samples that count the frames the pipe holds. Each capture thread keeps every sample
// it made until the pipe has drained, so any reference beyond the first is the pipe's:
// a sample gaining a second reference is a frame the pipe took, losing it one it let go.
struct CountedSample {
  std::atomic<int> references{1};
};

std::atomic<int> framesHeld{0};
std::atomic<int> mostFramesHeld{0};

const platform::screencast::SampleBufferKind kCountedKind{
    [](void* sample) {
      if (static_cast<CountedSample*>(sample)->references.fetch_add(1) != 1) return;
      const int held = framesHeld.fetch_add(1) + 1;
      for (int most = mostFramesHeld.load();
           held > most && !mostFramesHeld.compare_exchange_weak(most, held);) {
      }
    },
    [](void* sample) {
      auto* counted = static_cast<CountedSample*>(sample);
      const int left = counted->references.fetch_sub(1) - 1;
      if (left == 1) framesHeld.fetch_sub(1);
      if (left == 0) delete counted;
    },
    // The frame work looks the image up: slow enough that frames pile up behind it.
    [](void* sample) -> void* {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return sample;
    },
    [](void* /*imageBuffer*/) {},
};

// Two capture threads each submit at ten times a 30 fps capture rate for two seconds
// while the frame work is slower than that: the pipe never holds more than one frame,
// every frame is either received or dropped, and none is kept once it stops.
TEST(FramePipeStress, TwoThreadsAtTenTimesTheCaptureRateNeverMakeItHoldTwoFrames) {
  broadcast::ScreenFramePipe pipe;
  pipe.start({"https://api.example.test/v1/api", "tok", "lounge"}, "scr-1", "screen-ios-1");
  static_cast<void>(pipe.counters());  // the start work has run

  constexpr auto kInterval = std::chrono::microseconds(1'000'000 / 300);
  constexpr int kFramesEach = 600;
  std::vector<std::vector<SampleBuffer>> made(2);
  std::vector<std::thread> capture;
  for (auto& samples : made) {
    capture.emplace_back([&pipe, &samples, kInterval] {
      const auto begin = std::chrono::steady_clock::now();
      for (int frame = 0; frame < kFramesEach; ++frame) {
        std::this_thread::sleep_until(begin + frame * kInterval);
        samples.push_back(SampleBuffer::adopt(new CountedSample, kCountedKind));
        pipe.submit(samples.back());
      }
    });
  }
  for (auto& thread : capture) thread.join();
  pipe.stop();
  const auto counters = pipe.counters();

  EXPECT_EQ(mostFramesHeld.load(), 1);
  EXPECT_EQ(framesHeld.load(), 0);
  EXPECT_EQ(counters.framesReceived + counters.framesDropped, 2 * kFramesEach);
  EXPECT_GT(counters.framesDropped, 0);
}

}  // namespace
