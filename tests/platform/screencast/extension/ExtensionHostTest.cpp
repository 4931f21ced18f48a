#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
  const testsupport::TempDataDir dir;  // a runtime folder of its own: the broadcast lock is in it
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
      {"the source ends, every sample handed over",
       "videotestsrc num-buffers=12 ! video/x-raw ! appsink name=sink",
       nullptr,
       nullptr,
       {"started", "sample", "finished"},
       0,
       ""},
      {"SIGTERM",
       testPattern,
       nullptr,
       [](RecordingHandler&, int number) {
         if (number == 3) kill(getpid(), SIGTERM);
       },
       {"started", "sample", "finished"},
       0,
       ""},
      {"an error from another thread stops capture",
       testPattern,
       nullptr,
       [&reporter](RecordingHandler& self, int number) {
         if (number == 2) reporter = std::thread([&self] { self.finishBroadcastWithError(kError); });
       },
       {"started", "sample", "finished"},
       1,
       "Something went wrong.\n"},
      {"a refusal in started never captures; only the first error counts",
       testPattern,
       [](RecordingHandler& self) {
         self.finishBroadcastWithError(kError);
         self.finishBroadcastWithError({"com.example.test", 4, "A second error."});
       },
       nullptr,
       {"started", "finished"},
       1,
       "Something went wrong.\n"},
      {"no such element",
       "nosuchsourceelement ! appsink name=sink",
       nullptr,
       nullptr,
       {"started", "finished"},
       1,
       "Screen capture failed: "},
      {"no sample sink",
       "videotestsrc num-buffers=1 ! fakesink",
       nullptr,
       nullptr,
       {"started", "finished"},
       1,
       "Screen capture failed: "},
      {"no display to capture",
       "ximagesrc ! appsink name=sink",
       nullptr,
       nullptr,
       {"started", "finished"},
       1,
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
    EXPECT_EQ(runBroadcastExtension(handler, {.captureDescription = c.capture, .showIndicator = false}),
              c.status);
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

TEST(CaptureSourceTest, AutomaticTakesThePortalOnWaylandOrWithoutAnX11Display) {
  struct Case {
    CaptureSource asked;
    bool wayland, x11;
    CaptureSource taken;
  };
  const Case cases[] = {
      {CaptureSource::automatic, false, true, CaptureSource::screen},
      {CaptureSource::automatic, true, true, CaptureSource::portal},
      {CaptureSource::automatic, true, false, CaptureSource::portal},
      {CaptureSource::automatic, false, false, CaptureSource::portal},
      {CaptureSource::screen, true, false, CaptureSource::screen},
      {CaptureSource::portal, false, true, CaptureSource::portal},
      {CaptureSource::testPattern, true, true, CaptureSource::testPattern},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.asked) << c.wayland << c.x11);
    EXPECT_EQ(resolveCaptureSource(c.asked, c.wayland, c.x11), c.taken);
  }
  EXPECT_EQ(parseCaptureSource("auto"), CaptureSource::automatic);
  EXPECT_EQ(parseCaptureSource("portal"), CaptureSource::portal);
  EXPECT_EQ(portalCaptureDescription(7, 42),
            "pipewiresrc fd=7 path=42 always-copy=true ! video/x-raw ! "
            "appsink name=sink sync=false max-buffers=1 drop=true");
}

TEST(RestoreTokenFileTest, ReadsOnlyAPrivateFileInAPrivateFolderAndReplacesItWhole) {
  namespace fs = std::filesystem;
  EXPECT_EQ(RestoreTokenFile::defaultPath("/state", "/home/u"), "/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath(nullptr, "/home/u"),
            "/home/u/.local/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath("relative", "/home/u"),
            "/home/u/.local/state/sorn/screencast-restore-token");
  EXPECT_EQ(RestoreTokenFile::defaultPath(nullptr, nullptr), "");

  struct Case {
    const char* name;
    std::function<void(const fs::path& folder, const fs::path& file)> spoil;
    bool readable;
  };
  const Case cases[] = {
      {"as written", [](const fs::path&, const fs::path&) {}, true},
      {"file open to others", [](const fs::path&, const fs::path& file) { chmod(file.c_str(), 0644); },
       false},
      {"folder open to others", [](const fs::path& folder, const fs::path&) { chmod(folder.c_str(), 0755); },
       false},
      {"file is a link",
       [](const fs::path& folder, const fs::path& file) {
         fs::rename(file, folder / "elsewhere");
         fs::create_symlink(folder / "elsewhere", file);
       },
       false},
      {"folder is a link",
       [](const fs::path& folder, const fs::path&) {
         fs::rename(folder, folder.string() + "-real");
         fs::create_directory_symlink(folder.string() + "-real", folder);
       },
       false},
      {"empty file", [](const fs::path&, const fs::path& file) { std::ofstream(file, std::ios::trunc); },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
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
    c.spoil(folder, tokens.path());
    EXPECT_EQ(tokens.read(), c.readable ? std::optional<std::string>("second") : std::nullopt);
  }
  testsupport::TempDataDir dir;
  const fs::path open = dir.root() / "open";
  fs::create_directories(open);
  chmod(open.c_str(), 0755);
  EXPECT_FALSE(
      RestoreTokenFile(open / "screencast-restore-token").write("token"));  // not private: not written
}

}  // namespace
}  // namespace platform::screencast
