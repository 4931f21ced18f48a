#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/screencast/extension/SampleBuffer.h"

namespace broadcast {

// Flow control between the capture callback and the per-frame work: while a screen
// session runs, at most one frame is queued or in work; frames arriving meanwhile are
// refused and counted. submit() runs on the capture thread and never waits; start(),
// stop() and every frame's work run on the pipe's own serial queue.
class ScreenFramePipe {
 public:
  static constexpr const char* kQueueLabel = "com.tarnwell.sorn.screenpipe";

  // The two counters, as the pipe's queue sees them.
  struct Counters {
    std::int64_t framesReceived = 0;
    std::int64_t framesDropped = 0;
  };

  // The process-wide pipe, made on first use; it lives as long as the process.
  static ScreenFramePipe& shared();

  ScreenFramePipe();
  ~ScreenFramePipe() = default;
  ScreenFramePipe(const ScreenFramePipe&) = delete;
  ScreenFramePipe& operator=(const ScreenFramePipe&) = delete;

  // Each returns at once; the work runs on the queue in call order.
  void start(ScreenShareSignaling signaling, std::string screenSessionId, std::string trackName);
  void submit(const platform::screencast::SampleBuffer& sampleBuffer);
  void stop();

  // Waits for the work queued so far and gives the counters after it. Not from the queue.
  [[nodiscard]] Counters counters();

  platform::dispatch::SerialQueue& queue() { return queue_; }

 private:
  void frameWork(platform::screencast::SampleBuffer sampleBuffer);

  platform::dispatch::SerialQueue queue_{kQueueLabel};
  // Shared with submit() on the capture thread.
  std::atomic<bool> running_{false};
  std::atomic<bool> inFlight_{false};
  std::atomic<std::int64_t> framesDropped_{0};
  // Read and written on the queue only.
  std::optional<ScreenShareSignaling> signaling_;
  std::optional<std::string> screenSessionId_;
  std::optional<std::string> trackName_;
  std::int64_t framesReceived_ = 0;
};

}  // namespace broadcast
