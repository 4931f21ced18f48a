#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/screencast/extension/SampleBuffer.h"

namespace broadcast::test {

// Captured samples as counted objects. The test keeps a reference to every sample it
// submits, so a reference beyond its own is the pipe's: `held` counts the samples the
// pipe holds, `mostHeld` the most it ever held at once. Any thread.
inline std::atomic<int> held{0}, mostHeld{0}, imageLookups{0};

inline const platform::screencast::SampleBufferKind kFakeSampleKind{
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
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // slow, so that frames pile up
      return sample;
    },
    [](void* /*imageBuffer*/) {},
};

inline platform::screencast::SampleBuffer makeFakeSample() {
  return platform::screencast::SampleBuffer::adopt(new std::atomic<int>(1), kFakeSampleKind);
}

}  // namespace broadcast::test
