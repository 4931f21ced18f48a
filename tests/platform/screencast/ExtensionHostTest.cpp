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
// counts the samples that are not video with an image or come on the test's thread. One
// that refuses ends the broadcast twice in started: only the first error counts.
struct RecordingHandler final : BroadcastSampleHandler {
  explicit RecordingHandler(bool refusing) : refuses(refusing) {}
  void broadcastStartedWithSetupInfo(const std::optional<SetupInfo>& /*setupInfo*/) override {
    events += "started ";
    for (int code : {3, 4}) {
      if (refuses) finishBroadcastWithError({"com.example.test", code, "Error " + std::to_string(code)});
    }
  }
  // Samples come on the capture thread, which has stopped before the broadcast ends.
  void processSampleBuffer(const SampleBuffer& sampleBuffer, SampleBufferType type) override {
    badSamples += type != SampleBufferType::video || !sampleBuffer.imageBuffer() ||
                  std::this_thread::get_id() == testThread;
    if (!events.ends_with("sample ")) events += "sample ";
    ++samples;
  }
  void broadcastFinished() override { events += "finished "; }

  const bool refuses;
  const std::thread::id testThread = std::this_thread::get_id();
  std::atomic<int> samples{0}, badSamples{0};
  std::string events;
};

// SIGTERM and errors from other threads are sorn-broadcast's (BroadcastExtensionTest).
TEST(ExtensionHostTest, EndsTheBroadcastAndAlwaysCallsFinished) {
  const testsupport::TempDataDir dir;  // a runtime folder of its own: the broadcast lock is in it
  const std::string captured = "started sample finished ", none = "started finished ",
                    failed = "Screen capture failed: ";
  // The pipeline, whether the handler refuses, then the calls, the exit status and the error shown.
  const std::tuple<std::string, bool, std::string, int, std::string> cases[] = {
      {"videotestsrc num-buffers=12 ! video/x-raw ! appsink name=sink", false, captured, 0, ""},
      {captureDescription(CaptureSource::testPattern), true, none, 1, "Error 3\n"},
      {"nosuchsourceelement ! appsink name=sink", false, none, 1, failed},
      {"videotestsrc num-buffers=1 ! fakesink", false, none, 1, failed},  // no sample sink
      {"ximagesrc ! appsink name=sink", false, none, 1, failed},          // no display to capture
  };
  // The portal's buffers are copied out, never held while PipeWire reuses them.
  EXPECT_NE(portalCaptureDescription(7, 42).find(" always-copy=true "), std::string::npos);
  // Without a display the screen cannot be captured. (Naming a display instead would
  // show a small leak of the X source element itself to LeakSanitizer.)
  unsetenv("DISPLAY");
  for (const auto& [capture, refuses, events, status, errorOutput] : cases) {
    SCOPED_TRACE(capture);
    const auto handler = std::make_shared<RecordingHandler>(refuses);
    testing::internal::CaptureStderr();
    EXPECT_EQ(runBroadcastExtension(handler, {.captureDescription = capture, .showIndicator = false}),
              status);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find(errorOutput), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Error 4"), std::string::npos);
    EXPECT_EQ(handler->events, events);
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
}

TEST(RestoreTokenFileTest, ReadsOnlyAPrivateFileInAPrivateFolderAndReplacesItWhole) {
  namespace fs = std::filesystem;
  EXPECT_EQ(RestoreTokenFile::defaultPath("/state", "/home/u"), "/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath("relative", "/home/u"),
            "/home/u/.local/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath(nullptr, nullptr), "");

  // After the writes, the file or its folder opened to others, swapped for a link, or emptied.
  const auto open = [](const fs::path& path) { chmod(path.c_str(), 0755); };
  const auto link = [](const fs::path& path) {
    fs::rename(path, path.string() + "-real");
    fs::create_symlink(path.string() + "-real", path);
  };
  const auto empty = [](const fs::path& path) { std::ofstream(path, std::ios::trunc); };
  const std::pair<bool, std::function<void(const fs::path&)>> spoilings[] = {
      {false, nullptr}, {false, open}, {true, open}, {false, link}, {true, link}, {false, empty}};
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
    EXPECT_EQ((held >> heldToken, heldToken), "first-token");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    if (spoilings[i].second) spoilings[i].second(spoilings[i].first ? folder : tokens.path());
    EXPECT_EQ(tokens.read(), i == 0 ? std::optional<std::string>("second") : std::nullopt);
    EXPECT_TRUE(i != 2 || !tokens.write("token"));  // not private: not written
  }
}

}  // namespace
}  // namespace platform::screencast
