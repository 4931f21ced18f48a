#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"
#include "platform/screencast/extension/GstSampleBuffer.h"

namespace platform::screencast {
namespace {

// A handler that records what the host does with it: the calls in order (runs of samples
// as one), the samples, those not video with an image, and those on the test's thread.
class RecordingHandler final : public BroadcastSampleHandler {
 public:
  std::function<void(RecordingHandler&)> onStarted;
  std::function<void(RecordingHandler&, int sampleNumber)> onVideo;

  void broadcastStartedWithSetupInfo(const std::optional<SetupInfo>& /*setupInfo*/) override {
    record("started");
    if (onStarted) onStarted(*this);
  }
  void processSampleBuffer(const SampleBuffer& sampleBuffer, SampleBufferType type) override {
    const bool onTestThread = std::this_thread::get_id() == mainThread_;
    if (type != SampleBufferType::video || !sampleBuffer.imageBuffer() || onTestThread) ++badSamples;
    const int number = ++samples;
    record("sample");
    if (onVideo) onVideo(*this, number);
  }
  void broadcastFinished() override { record("finished"); }

  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::atomic<int> samples{0}, badSamples{0};

 private:
  void record(const std::string& event) {
    std::lock_guard lock(mutex_);
    if (events_.empty() || events_.back() != event) events_.push_back(event);
  }
  std::mutex mutex_;
  const std::thread::id mainThread_ = std::this_thread::get_id();
  std::vector<std::string> events_;
};

const BroadcastError kError{"com.example.test", 3, "Something went wrong."};

using Events = std::vector<std::string>;

TEST(ExtensionHostTest, EndsTheBroadcastAndAlwaysCallsFinished) {
  std::thread reporter;
  struct Case {
    const char* name;
    std::string capture;
    std::function<void(RecordingHandler&)> onStarted;
    std::function<void(RecordingHandler&, int)> onVideo;
    Events events;
    int status;
    std::string errorOutput;
  };
  const auto testPattern = captureDescription(CaptureSource::testPattern);
  const Case cases[] = {
      {"the source ends, every sample handed over", "videotestsrc num-buffers=12 ! video/x-raw ! appsink name=sink",
       nullptr, nullptr, {"started", "sample", "finished"}, 0, ""},
      {"SIGTERM", testPattern, nullptr,
       [](RecordingHandler&, int number) {
         if (number == 3) kill(getpid(), SIGTERM);
       },
       {"started", "sample", "finished"}, 0, ""},
      {"an error from another thread stops capture", testPattern, nullptr,
       [&reporter](RecordingHandler& self, int number) {
         if (number == 2) reporter = std::thread([&self] { self.finishBroadcastWithError(kError); });
       },
       {"started", "sample", "finished"}, 1, "Something went wrong.\n"},
      {"a refusal in started never captures; only the first error counts", testPattern,
       [](RecordingHandler& self) {
         self.finishBroadcastWithError(kError);
         self.finishBroadcastWithError({"com.example.test", 4, "A second error."});
       },
       nullptr, {"started", "finished"}, 1, "Something went wrong.\n"},
      {"no such element", "nosuchsourceelement ! appsink name=sink", nullptr, nullptr, {"started", "finished"}, 1,
       "Screen capture failed: "},
      {"no sample sink", "videotestsrc num-buffers=1 ! fakesink", nullptr, nullptr, {"started", "finished"}, 1,
       "Screen capture failed: "},
      {"no display to capture", "ximagesrc ! appsink name=sink", nullptr, nullptr, {"started", "finished"}, 1,
       "Screen capture failed: "},
  };
  // Without a display the screen cannot be captured. (Naming a display instead would
  // show a small leak of the X source element itself to LeakSanitizer.)
  const char* display = std::getenv("DISPLAY");
  const std::string savedDisplay = display != nullptr ? display : "";
  unsetenv("DISPLAY");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto handler = std::make_shared<RecordingHandler>();
    handler->onStarted = c.onStarted;
    handler->onVideo = c.onVideo;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runBroadcastExtension(handler, {.captureDescription = c.capture, .showIndicator = false}), c.status);
    const std::string errorOutput = testing::internal::GetCapturedStderr();
    EXPECT_NE(errorOutput.find(c.errorOutput), std::string::npos) << errorOutput;
    EXPECT_EQ(errorOutput.find("A second error."), std::string::npos);
    if (reporter.joinable()) reporter.join();
    EXPECT_EQ(handler->events(), c.events);
    EXPECT_EQ(handler->badSamples, 0);
    EXPECT_TRUE(c.status != 0 || c.onVideo || handler->samples == 12);
  }
  if (!savedDisplay.empty()) setenv("DISPLAY", savedDisplay.c_str(), 1);
}

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
