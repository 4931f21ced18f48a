#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "broadcast/ScreenFramePipe.h"
#include "tests/broadcast/FakeSample.h"

namespace {

namespace test = broadcast::test;

// Two capture threads each submit at ten times a 30 fps capture rate for two seconds
// while the frame work is slower than that: the pipe never holds more than one frame,
// every frame is either received or dropped, and none is kept once it stops.
TEST(FramePipeStress, TwoThreadsAtTenTimesTheCaptureRateNeverMakeItHoldTwoFrames) {
  auto& pipe = broadcast::ScreenFramePipe::shared();
  pipe.start({"https://api.example.test/v1/api", "tok", "lounge"}, "scr-1", "screen-ios-1");
  static_cast<void>(pipe.counters());  // the start work has run

  constexpr auto kInterval = std::chrono::microseconds(1'000'000 / 300);
  constexpr int kFramesEach = 600;
  std::vector<std::vector<platform::screencast::SampleBuffer>> made(2);  // kept until the pipe drained
  std::vector<std::jthread> capture;
  for (auto& samples : made) {
    capture.emplace_back([&pipe, &samples, kInterval] {
      const auto begin = std::chrono::steady_clock::now();
      for (int frame = 0; frame < kFramesEach; ++frame) {
        std::this_thread::sleep_until(begin + frame * kInterval);
        pipe.submit(samples.emplace_back(test::makeFakeSample()));
      }
    });
  }
  capture.clear();
  pipe.stop();
  const auto counters = pipe.counters();

  EXPECT_EQ(test::mostHeld.load(), 1);
  EXPECT_EQ(test::held.load(), 0);
  EXPECT_EQ(counters.framesReceived + counters.framesDropped, 2 * kFramesEach);
  EXPECT_GT(counters.framesDropped, 0);
}

}  // namespace
