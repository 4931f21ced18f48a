#include "broadcast/ScreenFramePipe.h"

#include <utility>

namespace broadcast {

using platform::screencast::SampleBuffer;

ScreenFramePipe& ScreenFramePipe::shared() {
  // Never destroyed: frame work may still be queued while the process exits.
  static auto* pipe = new ScreenFramePipe();
  return *pipe;
}

ScreenFramePipe::ScreenFramePipe() = default;

void ScreenFramePipe::start(ScreenShareSignaling signaling, std::string screenSessionId,
                            std::string trackName) {
  queue_.async([this, signaling = std::move(signaling), screenSessionId = std::move(screenSessionId),
                trackName = std::move(trackName)]() mutable {
    signaling_ = std::move(signaling);
    screenSessionId_ = std::move(screenSessionId);
    trackName_ = std::move(trackName);
    running_.store(true, std::memory_order_relaxed);
    framesReceived_ = 0;
    framesDropped_.store(0, std::memory_order_relaxed);
  });
}

void ScreenFramePipe::submit(const SampleBuffer& sampleBuffer) {
  if (!running_.load(std::memory_order_relaxed)) return;
  // The plain load keeps the drop path free of a locked instruction; the exchange is
  // the claim itself, so two submitting threads never both win it.
  if (inFlight_.load(std::memory_order_relaxed) || inFlight_.exchange(true, std::memory_order_acquire)) {
    framesDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  queue_.async([this, held = sampleBuffer]() mutable { frameWork(std::move(held)); });
}

void ScreenFramePipe::frameWork(SampleBuffer sampleBuffer) {
  if (running_.load(std::memory_order_relaxed)) {
    ++framesReceived_;
    // The frame work only looks the image buffer up and lets it go.
    (void)sampleBuffer.imageBuffer();
  }
  // Let the sample go before the claim is freed, so the next accepted frame never
  // finds this one still held.
  sampleBuffer = SampleBuffer();
  inFlight_.store(false, std::memory_order_release);
}

void ScreenFramePipe::stop() {
  queue_.async([this] {
    running_.store(false, std::memory_order_relaxed);
    signaling_.reset();
    screenSessionId_.reset();
    trackName_.reset();
  });
}

ScreenFramePipe::Counters ScreenFramePipe::counters() {
  Counters counters;
  queue_.sync([this, &counters] {
    counters.framesReceived = framesReceived_;
    counters.framesDropped = framesDropped_.load(std::memory_order_relaxed);
  });
  return counters;
}

}  // namespace broadcast
