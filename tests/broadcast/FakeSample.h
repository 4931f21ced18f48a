#pragma once

#include <atomic>

#include "platform/screencast/extension/SampleBuffer.h"

namespace broadcast::test {

// Captured samples as counted objects: how many are alive, the most references one ever
// had, and how often an image buffer was looked up. Any thread.
struct FakeSampleStats {
  std::atomic<int> alive{0};
  std::atomic<int> mostReferences{0};
  std::atomic<int> imageLookups{0};
};

inline FakeSampleStats& fakeSampleStats() {
  static FakeSampleStats stats;
  return stats;
}

struct FakeSample { std::atomic<int> references{1}; };

inline const platform::screencast::SampleBufferKind kFakeSampleKind{
    [](void* sample) {
      const int references = static_cast<FakeSample*>(sample)->references.fetch_add(1) + 1;
      for (int seen = fakeSampleStats().mostReferences; references > seen;)
        fakeSampleStats().mostReferences.compare_exchange_weak(seen, references);
    },
    [](void* sample) {
      if (static_cast<FakeSample*>(sample)->references.fetch_sub(1) == 1) {
        delete static_cast<FakeSample*>(sample);
        fakeSampleStats().alive.fetch_sub(1);
      }
    },
    [](void* sample) -> void* {
      fakeSampleStats().imageLookups.fetch_add(1);
      return sample;
    },
    [](void* /*imageBuffer*/) {},
};

inline platform::screencast::SampleBuffer makeFakeSample() {
  fakeSampleStats().alive.fetch_add(1);
  return platform::screencast::SampleBuffer::adopt(new FakeSample, kFakeSampleKind);
}

}  // namespace broadcast::test
