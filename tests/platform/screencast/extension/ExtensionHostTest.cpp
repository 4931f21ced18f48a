#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"

namespace platform::screencast {
namespace {

// A handler that records what the host does with it, and on which thread.
class RecordingHandler final : public BroadcastSampleHandler {
 public:
  std::function<void(RecordingHandler&)> onStarted;
  std::function<void(RecordingHandler&, int sampleNumber)> onVideo;

  void broadcastStartedWithSetupInfo(const std::optional<SetupInfo>& /*setupInfo*/) override {
    record("started");
    if (onStarted) onStarted(*this);
  }
  void processSampleBuffer(const SampleBuffer& sampleBuffer, SampleBufferType type) override {
    int number = 0;
    {
      std::lock_guard lock(mutex_);
      if (type != SampleBufferType::video || !sampleBuffer.imageBuffer()) ++badSamples_;
      if (std::this_thread::get_id() == mainThread_) ++samplesOnMainThread_;
      number = ++samples_;
      if (events_.empty() || events_.back() != "sample") events_.emplace_back("sample");
    }
    if (onVideo) onVideo(*this, number);
  }
  void broadcastFinished() override { record("finished"); }

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  int samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
  }
  int badSamples() const {
    std::lock_guard lock(mutex_);
    return badSamples_;
  }
  int samplesOnMainThread() const {
    std::lock_guard lock(mutex_);
    return samplesOnMainThread_;
  }

 private:
  void record(const char* event) {
    std::lock_guard lock(mutex_);
    events_.emplace_back(event);
  }

  mutable std::mutex mutex_;
  const std::thread::id mainThread_ = std::this_thread::get_id();
  std::vector<std::string> events_;
  int samples_ = 0;
  int badSamples_ = 0;
  int samplesOnMainThread_ = 0;
};

const BroadcastError kError{"com.example.test", 3, "Something went wrong."};

int runHost(const std::shared_ptr<RecordingHandler>& handler, const std::string& description) {
  return runBroadcastExtension(handler, {.captureDescription = description, .showIndicator = false});
}

using Events = std::vector<std::string>;

TEST(ExtensionHostTest, HandsEveryVideoSampleOverOnTheCaptureThreadAndFinishesWhenTheSourceEnds) {
  auto handler = std::make_shared<RecordingHandler>();
  int status =
      runHost(handler, "videotestsrc num-buffers=12 ! video/x-raw,width=64,height=48 ! appsink name=sink");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(handler->events(), (Events{"started", "sample", "finished"}));
  EXPECT_EQ(handler->samples(), 12);
  EXPECT_EQ(handler->badSamples(), 0);
  EXPECT_EQ(handler->samplesOnMainThread(), 0);
}

TEST(ExtensionHostTest, SigtermFinishesTheBroadcast) {
  auto handler = std::make_shared<RecordingHandler>();
  handler->onVideo = [](RecordingHandler&, int number) {
    if (number == 3) kill(getpid(), SIGTERM);
  };
  int status = runHost(handler, captureDescription(CaptureSource::testPattern));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(handler->events(), (Events{"started", "sample", "finished"}));
  EXPECT_GE(handler->samples(), 3);
}

TEST(ExtensionHostTest, AnErrorFromAnotherThreadStopsCaptureShowsItsDescriptionThenFinishes) {
  auto handler = std::make_shared<RecordingHandler>();
  std::thread reporter;
  handler->onVideo = [&reporter](RecordingHandler& self, int number) {
    if (number == 2) reporter = std::thread([&self] { self.finishBroadcastWithError(kError); });
  };
  testing::internal::CaptureStderr();
  int status = runHost(handler, captureDescription(CaptureSource::testPattern));
  std::string errorOutput = testing::internal::GetCapturedStderr();
  reporter.join();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(handler->events(), (Events{"started", "sample", "finished"}));
  EXPECT_NE(errorOutput.find("Something went wrong.\n"), std::string::npos) << errorOutput;
}

TEST(ExtensionHostTest, ARefusalDuringStartedNeverCapturesAndStillFinishes) {
  auto handler = std::make_shared<RecordingHandler>();
  handler->onStarted = [](RecordingHandler& self) {
    self.finishBroadcastWithError(kError);
    // Only the first error of a broadcast counts.
    self.finishBroadcastWithError({"com.example.test", 4, "A second error."});
  };
  testing::internal::CaptureStderr();
  int status = runHost(handler, captureDescription(CaptureSource::testPattern));
  std::string errorOutput = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(handler->events(), (Events{"started", "finished"}));
  EXPECT_EQ(errorOutput, "Something went wrong.\n");
}

TEST(ExtensionHostTest, ACaptureThatCannotStartEndsTheBroadcastWithAnError) {
  struct Case {
    const char* name;
    const char* description;
  };
  const Case cases[] = {
      {"no such element", "nosuchsourceelement ! appsink name=sink"},
      {"no sample sink", "videotestsrc num-buffers=1 ! fakesink"},
      {"no display to capture", "ximagesrc ! appsink name=sink"},
  };
  // Without a display the screen cannot be captured. (Naming a display instead would
  // show a small leak of the X source element itself to LeakSanitizer.)
  const char* display = std::getenv("DISPLAY");
  const std::optional<std::string> savedDisplay =
      display != nullptr ? std::optional<std::string>(display) : std::nullopt;
  unsetenv("DISPLAY");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto handler = std::make_shared<RecordingHandler>();
    testing::internal::CaptureStderr();
    int status = runHost(handler, c.description);
    std::string errorOutput = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(handler->events(), (Events{"started", "finished"}));
    EXPECT_EQ(errorOutput.rfind("Screen capture failed: ", 0), 0U) << errorOutput;
  }
  if (savedDisplay) setenv("DISPLAY", savedDisplay->c_str(), 1);
}

TEST(ExtensionHostTest, ParsesTheCaptureOption) {
  EXPECT_EQ(parseCaptureSource("screen"), CaptureSource::screen);
  EXPECT_EQ(parseCaptureSource("test-pattern"), CaptureSource::testPattern);
  EXPECT_EQ(parseCaptureSource("Screen"), std::nullopt);
  EXPECT_EQ(parseCaptureSource(""), std::nullopt);
  // Neither source converts colours: frames reach the handler as captured.
  for (auto source : {CaptureSource::screen, CaptureSource::testPattern}) {
    EXPECT_EQ(captureDescription(source).find("convert"), std::string::npos);
  }
  EXPECT_NE(captureDescription(CaptureSource::screen).find("ximagesrc use-damage=false"), std::string::npos);
}

}  // namespace
}  // namespace platform::screencast
