#include <gtest/gtest.h>

#include "platform/screencast/extension/GstSampleBuffer.h"

namespace platform::screencast {
namespace {

int referencesOf(gpointer object) { return GST_MINI_OBJECT_REFCOUNT_VALUE(object); }

TEST(GstSampleBufferTest, CountsReferencesOnTheSampleAndGivesItsBufferAsImageBuffer) {
  gst_init(nullptr, nullptr);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 64, nullptr);
  GstSample* sample = gst_sample_new(buffer, nullptr, nullptr, nullptr);
  gst_buffer_unref(buffer);  // the sample holds it now
  gst_sample_ref(sample);    // the test's own, to watch the count
  {
    SampleBuffer adopted = adoptGstSample(sample);
    EXPECT_EQ(referencesOf(sample), 2);
    {
      SampleBuffer copy = adopted;
      EXPECT_EQ(referencesOf(sample), 3);
      ImageBuffer image = copy.imageBuffer();
      EXPECT_EQ(image.get(), buffer);
      EXPECT_EQ(referencesOf(buffer), 2);
    }
    EXPECT_EQ(referencesOf(sample), 2);
    EXPECT_EQ(referencesOf(buffer), 1);
  }
  EXPECT_EQ(referencesOf(sample), 1);
  gst_sample_unref(sample);

  GstSample* empty = gst_sample_new(nullptr, nullptr, nullptr, nullptr);
  EXPECT_FALSE(adoptGstSample(empty).imageBuffer());
}

}  // namespace
}  // namespace platform::screencast
