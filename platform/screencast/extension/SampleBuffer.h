#pragma once

#include <utility>

namespace platform::screencast {

// How the capture engine counts and opens one kind of sample. The engine's adapter
// provides one, so the broadcast logic handles samples without any engine type.
struct SampleBufferKind {
  void (*retain)(void* sample);
  void (*release)(void* sample);
  // A new reference to the sample's image buffer, or nullptr when it has none.
  void* (*retainImageBuffer)(void* sample);
  void (*releaseImageBuffer)(void* imageBuffer);
};

// A counted reference to a sample's image buffer (the frame's pixels), dropped when
// the object goes. Move-only; usable on any thread.
class ImageBuffer {
 public:
  ImageBuffer() = default;
  ImageBuffer(void* buffer, const SampleBufferKind* kind) : buffer_(buffer), kind_(kind) {}
  ImageBuffer(ImageBuffer&& other) noexcept
      : buffer_(std::exchange(other.buffer_, nullptr)), kind_(other.kind_) {}
  ImageBuffer& operator=(ImageBuffer&& other) noexcept {
    std::swap(buffer_, other.buffer_);
    std::swap(kind_, other.kind_);
    return *this;
  }
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;
  ~ImageBuffer() {
    if (buffer_ != nullptr) kind_->releaseImageBuffer(buffer_);
  }

  [[nodiscard]] void* get() const { return buffer_; }
  explicit operator bool() const { return buffer_ != nullptr; }

 private:
  void* buffer_ = nullptr;
  const SampleBufferKind* kind_ = nullptr;
};

// A counted reference to one captured sample: copying takes another reference,
// destruction drops one. Usable on any thread.
// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): one assignment by value serves copy and move
class SampleBuffer {
 public:
  SampleBuffer() = default;
  // Takes over a reference the caller already owns.
  static SampleBuffer adopt(void* sample, const SampleBufferKind& kind) { return {sample, &kind}; }
  // Takes a reference of its own.
  static SampleBuffer retain(void* sample, const SampleBufferKind& kind) {
    if (sample != nullptr) kind.retain(sample);
    return {sample, &kind};
  }

  SampleBuffer(const SampleBuffer& other) : sample_(other.sample_), kind_(other.kind_) {
    if (sample_ != nullptr) kind_->retain(sample_);
  }
  SampleBuffer(SampleBuffer&& other) noexcept
      : sample_(std::exchange(other.sample_, nullptr)), kind_(other.kind_) {}
  SampleBuffer& operator=(SampleBuffer other) noexcept {
    std::swap(sample_, other.sample_);
    std::swap(kind_, other.kind_);
    return *this;
  }
  ~SampleBuffer() {
    if (sample_ != nullptr) kind_->release(sample_);
  }

  // The sample's image buffer, or an empty one when it has none.
  [[nodiscard]] ImageBuffer imageBuffer() const {
    if (sample_ == nullptr) return {};
    return {kind_->retainImageBuffer(sample_), kind_};
  }

  [[nodiscard]] void* get() const { return sample_; }
  explicit operator bool() const { return sample_ != nullptr; }

 private:
  SampleBuffer(void* sample, const SampleBufferKind* kind) : sample_(sample), kind_(kind) {}

  void* sample_ = nullptr;
  const SampleBufferKind* kind_ = nullptr;
};

}  // namespace platform::screencast
