#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"
#include "platform/screencast/extension/GstSampleBuffer.h"
#include "platform/screencast/extension/RestoreTokenFile.h"
#include "tests/support/TempDataDir.h"

namespace platform::screencast {
namespace {

// A handler that records the calls the host makes, a run of samples as one "sample", and
// counts the samples that are not video with an image or come on the test's thread.
class RecordingHandler final : public BroadcastSampleHandler {
 public:
  std::function<void(RecordingHandler&, int sampleNumber)> onEvent;  // 0: started
  std::atomic<int> samples{0}, badSamples{0};
  std::string events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

  void broadcastStartedWithSetupInfo(const std::optional<SetupInfo>& /*setupInfo*/) override {
    record("started", 0);
  }
  void processSampleBuffer(const SampleBuffer& sampleBuffer, SampleBufferType type) override {
    if (type != SampleBufferType::video || !sampleBuffer.imageBuffer() ||
        std::this_thread::get_id() == testThread_)
      ++badSamples;
    record("sample", ++samples);
  }
  void broadcastFinished() override { record("finished", -1); }

 private:
  void record(const std::string& event, int number) {
    {
      std::lock_guard lock(mutex_);
      if (!events_.ends_with(event + " ")) events_ += event + " ";
    }
    if (onEvent && number >= 0) onEvent(*this, number);
  }
  std::mutex mutex_;
  const std::thread::id testThread_ = std::this_thread::get_id();
  std::string events_;
};

TEST(ExtensionHostTest, EndsTheBroadcastAndAlwaysCallsFinished) {
  const testsupport::TempDataDir dir;  // a runtime folder of its own: the broadcast lock is in it
  // Only the first error counts; SIGTERM and errors from other threads are sorn-broadcast's
  // (BroadcastExtensionTest).
  const auto refuseInStarted = [](RecordingHandler& self, int number) {
    for (int code : {3, 4}) {
      if (number == 0)
        self.finishBroadcastWithError({"com.example.test", code, "Error " + std::to_string(code)});
    }
  };
  const std::string captured = "started sample finished ", none = "started finished ",
                    failed = "Screen capture failed: ";
  // The pipeline, what the handler does, then the calls, the exit status and the error shown.
  const std::tuple<std::string, std::function<void(RecordingHandler&, int)>, std::string, int, std::string>
      cases[] = {
          {"videotestsrc num-buffers=12 ! video/x-raw ! appsink name=sink", nullptr, captured, 0, ""},
          {captureDescription(CaptureSource::testPattern), refuseInStarted, none, 1, "Error 3\n"},
          {"nosuchsourceelement ! appsink name=sink", nullptr, none, 1, failed},
          {"videotestsrc num-buffers=1 ! fakesink", nullptr, none, 1, failed},  // no sample sink
          {"ximagesrc ! appsink name=sink", nullptr, none, 1, failed},          // no display to capture
      };
  // Without a display the screen cannot be captured. (Naming a display instead would
  // show a small leak of the X source element itself to LeakSanitizer.)
  unsetenv("DISPLAY");
  for (const auto& [capture, onEvent, events, status, errorOutput] : cases) {
    SCOPED_TRACE(capture);
    auto handler = std::make_shared<RecordingHandler>();
    handler->onEvent = onEvent;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runBroadcastExtension(handler, {.captureDescription = capture, .showIndicator = false}),
              status);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find(errorOutput), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Error 4"), std::string::npos);
    EXPECT_EQ(handler->events(), events);
    EXPECT_EQ(handler->badSamples, 0);
    EXPECT_TRUE(status != 0 || handler->samples == 12);  // every sample handed over
  }
}

TEST(GstSampleBufferTest, HoldsTheSampleAndGivesItsBufferAsImageBuffer) {
  gst_init(nullptr, nullptr);
  const auto references = [](gpointer object) { return GST_MINI_OBJECT_REFCOUNT_VALUE(object); };
  g_autoptr(GstBuffer) buffer = gst_buffer_new_allocate(nullptr, 64, nullptr);
  g_autoptr(GstSample) sample = gst_sample_new(buffer, nullptr, nullptr, nullptr);
  {
    const SampleBuffer adopted = adoptGstSample(gst_sample_ref(sample)), copy = adopted;
    const ImageBuffer image = copy.imageBuffer();
    EXPECT_EQ(std::tuple(image.get(), references(sample), references(buffer)),
              std::tuple(static_cast<void*>(buffer), 3, 3));
  }
  EXPECT_EQ(std::pair(references(sample), references(buffer)), std::pair(1, 2));
  EXPECT_FALSE(adoptGstSample(gst_sample_new(nullptr, nullptr, nullptr, nullptr)).imageBuffer());
}

TEST(RestoreTokenFileTest, ReadsOnlyAPrivateFileInAPrivateFolderAndReplacesItWhole) {
  namespace fs = std::filesystem;
  EXPECT_EQ(RestoreTokenFile::defaultPath("/state", "/home/u"), "/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath("relative", "/home/u"),
            "/home/u/.local/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath(nullptr, nullptr), "");

  const auto moveAndLink = [](const fs::path& path) {
    fs::rename(path, path.string() + "-real");
    fs::create_symlink(path.string() + "-real", path);
  };
  const std::function<void(const fs::path& folder, const fs::path& file)> spoilings[] = {
      [](const fs::path&, const fs::path&) {},  // as written: readable
      [](const fs::path&, const fs::path& file) { chmod(file.c_str(), 0644); },
      [](const fs::path& folder, const fs::path&) { chmod(folder.c_str(), 0755); },
      [&](const fs::path&, const fs::path& file) { moveAndLink(file); },
      [&](const fs::path& folder, const fs::path&) { moveAndLink(folder); },
      [](const fs::path&, const fs::path& file) { std::ofstream(file, std::ios::trunc); },
  };
  for (std::size_t i = 0; i < std::size(spoilings); ++i) {
    SCOPED_TRACE(i);
    testsupport::TempDataDir dir;
    const fs::path folder = dir.root() / "state" / "sorn";
    const RestoreTokenFile tokens(folder / "screencast-restore-token");
    EXPECT_EQ(tokens.read(), std::nullopt);
    ASSERT_TRUE(tokens.write("first-token"));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(tokens.path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // Replaced whole: a reader holding the old file still sees the old token, and no
    // temporary is left beside it.
    std::ifstream held(tokens.path());
    ASSERT_TRUE(tokens.write("second"));
    std::string heldToken;
    std::getline(held, heldToken);
    EXPECT_EQ(heldToken, "first-token");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    spoilings[i](folder, tokens.path());
    EXPECT_EQ(tokens.read(), i == 0 ? std::optional<std::string>("second") : std::nullopt);
    if (i == 2) {
      EXPECT_FALSE(tokens.write("token"));  // not private: not written
    }
  }
}

}  // namespace
}  // namespace platform::screencast
