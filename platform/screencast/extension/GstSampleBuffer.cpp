#include "platform/screencast/extension/GstSampleBuffer.h"

namespace platform::screencast {

namespace {

const SampleBufferKind kGstSampleKind{
    [](void* sample) { gst_sample_ref(static_cast<GstSample*>(sample)); },
    [](void* sample) { gst_sample_unref(static_cast<GstSample*>(sample)); },
    [](void* sample) -> void* {
      GstBuffer* buffer = gst_sample_get_buffer(static_cast<GstSample*>(sample));
      return buffer != nullptr ? gst_buffer_ref(buffer) : nullptr;
    },
    [](void* buffer) { gst_buffer_unref(static_cast<GstBuffer*>(buffer)); },
};

}  // namespace

SampleBuffer adoptGstSample(GstSample* sample) { return SampleBuffer::adopt(sample, kGstSampleKind); }

}  // namespace platform::screencast
