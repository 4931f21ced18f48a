#pragma once

#include <algorithm>
#include <atomic>

#include "platform/screencast/extension/SampleBuffer.h"

namespace broadcast::test {

// A stand-in for captured samples that counts what is done with them: how many are
// alive, the most references one sample had, and how often an image buffer was
// looked up. Every thread may use it.
struct FakeSampleStats {
  std::atomic<int> alive{0};
  std::atomic<int> mostReferences{0};
  std::atomic<int> imageLookups{0};

  void reset() {
    alive = 0;
    mostReferences = 0;
    imageLookups = 0;
  }
};

inline FakeSampleStats& fakeSampleStats() {
  static FakeSampleStats stats;
  return stats;
}

struct FakeSample {
  std::atomic<int> references{1};
};

inline void noteReferences(int references) {
  auto& most = fakeSampleStats().mostReferences;
  int seen = most.load();
  while (references > seen && !most.compare_exchange_weak(seen, references)) {
  }
}

inline const platform::screencast::SampleBufferKind kFakeSampleKind{
    [](void* sample) { noteReferences(static_cast<FakeSample*>(sample)->references.fetch_add(1) + 1); },
    [](void* sample) {
      auto* fake = static_cast<FakeSample*>(sample);
      if (fake->references.fetch_sub(1) == 1) {
        delete fake;
        fakeSampleStats().alive.fetch_sub(1);
      }
    },
    [](void* sample) -> void* {
      fakeSampleStats().imageLookups.fetch_add(1);
      return sample;
    },
    [](void* /*imageBuffer*/) {},
};

// A new sample; the caller holds its only reference.
inline platform::screencast::SampleBuffer makeFakeSample() {
  fakeSampleStats().alive.fetch_add(1);
  noteReferences(1);
  return platform::screencast::SampleBuffer::adopt(new FakeSample, kFakeSampleKind);
}

inline int referencesOf(const platform::screencast::SampleBuffer& sample) {
  return static_cast<FakeSample*>(sample.get())->references.load();
}

}  // namespace broadcast::test
