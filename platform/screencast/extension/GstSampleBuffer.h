#pragma once

#include <gst/gst.h>

#include "platform/screencast/extension/SampleBuffer.h"

namespace platform::screencast {

// A sample buffer over a GstSample: its image buffer is the sample's GstBuffer.
// Takes over the caller's reference (as gst_app_sink_pull_sample hands one out).
SampleBuffer adoptGstSample(GstSample* sample);

}  // namespace platform::screencast
