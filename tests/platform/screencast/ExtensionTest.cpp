// Broadcast extensions: their metadata files, where they are looked up, their start, and the
// extension host in-process with GStreamer test sources.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"
#include "platform/screencast/extension/GstSampleBuffer.h"
#include "platform/screencast/extension/RestoreTokenFile.h"
#include "platform/screencast/picker/ExtensionLauncher.h"
#include "platform/screencast/picker/ExtensionLookup.h"
#include "platform/screencast/picker/ExtensionMetadata.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/TempDataDir.h"

namespace platform::screencast {
namespace {

using testsupport::FakeExtension;
constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

TEST(ExtensionMetadataTest, ReadsOnlyCompleteMetadataOfTheRightExtension) {
  // An installed layout: the metadata under share/, the program in bin/ beside it.
  const testsupport::TempDataDir dir;
  const auto share = dir.root() / "share";
  const FakeExtension extension(dir.root() / "bin");
  std::ofstream(dir.root() / "plain") << "#!/bin/sh\n";
  // Whether the metadata is usable with this key set to this value (none: removed).
  const std::tuple<bool, const char*, std::optional<std::string>> cases[] = {
      {true, "Name", "Test Broadcast"},
      {true, "AppGroup", std::nullopt},
      {true, "Exec", "../../../bin/recorder"},  // relative to the file
      {false, "Id", std::nullopt},
      {false, "ExtensionPoint", std::nullopt},
      {false, "Exec", std::nullopt},
      {false, "Name", ""},
      {false, "Id", "com.tarnwell.sorn.other"},
      {false, "ExtensionPoint", "com.tarnwell.sorn.widgets"},
      {false, "Exec", dir.root().string()},               // a folder
      {false, "Exec", (dir.root() / "plain").string()}};  // may not be run
  for (const auto& [usable, key, value] : cases) {
    SCOPED_TRACE(key + (" = " + value.value_or("(none)")));
    auto keys = extension.metadataKeys(kId, "Test Broadcast");
    value ? void(keys[key] = *value) : void(keys.erase(key));
    FakeExtension::writeMetadata(share, kId, keys);
    const auto metadata = readExtensionMetadata(share, kId);
    ASSERT_EQ(metadata.has_value(), usable);
    if (!metadata) continue;
    EXPECT_EQ(
        std::tie(metadata->id, metadata->extensionPoint, metadata->exec, metadata->name, metadata->appGroup),
        std::make_tuple(kId, kBroadcastUploadExtensionPoint, extension.program(), "Test Broadcast",
                        keys.contains("AppGroup") ? "group.com.tarnwell.sorn" : ""));
  }
  // Not a key file (no file at all: LauncherTest).
  std::ofstream(extensionMetadataFile(share, kId)) << "Id=x\nnot a key file\n";
  EXPECT_FALSE(readExtensionMetadata(share, kId));
  // Ids are plain reverse-domain names: one that climbs out of the folder reaches nothing.
  for (const char* id : {"", "../evil", "a/b", ".hidden", "trailing.", "a..b", "with space", "new\nline"})
    EXPECT_FALSE(isValidExtensionId(id)) << id;
  EXPECT_TRUE(isValidExtensionId("a-b_c.D9"));
  FakeExtension::writeMetadata(share, "../evil", extension.metadataKeys("../evil", "Evil"));
  ASSERT_TRUE(std::filesystem::exists(share / "sorn" / "evil.extension"));
  EXPECT_FALSE(readExtensionMetadata(share, "../evil"));
}

TEST(ExtensionLookupTest, SearchesTheProgramShareThenDataHomeThenDataDirsAndTakesTheFirstUsable) {
  const testsupport::TempDataDir dir;
  setenv("XDG_DATA_DIRS", "/opt/a/share:relative/share::/opt/b/share", 1);
  const auto programShare = std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "share";
  EXPECT_EQ(extensionDataDirs(),
            (std::vector<std::filesystem::path>{programShare.lexically_normal(), dir.dataHome(),
                                                "/opt/a/share", "/opt/b/share"}));

  // Two good files and a broken one in the user's folder, which does not hide the system's.
  setenv("XDG_DATA_DIRS", (dir.root().string() + "/system:" + dir.root().string() + "/other").c_str(), 1);
  const FakeExtension extension(dir.root() / "bin");
  for (const auto& [folder, name] :
       {std::pair{dir.root() / "other", "Other"}, {dir.root() / "system", "System"}})
    FakeExtension::writeMetadata(folder, kId, extension.metadataKeys(kId, name));
  FakeExtension::writeMetadata(dir.dataHome(), kId, {{"Id", kId}, {"Name", "Home"}});
  EXPECT_EQ(findExtension(kId).value().name, "System");
}

// That a program that cannot start is reported: LauncherTest.
TEST(ExtensionLauncherTest, StartsTheProgramDetachedAndReapsItWhenItEnds) {
  const testsupport::TempDataDir dir;
  const FakeExtension extension(dir.root() / "bin");
  // A descriptor of ours, made our standard input too: it may reach the extension neither way.
  dup2(open((dir.root() / "held-open").c_str(), O_RDWR | O_CREAT, 0600), STDIN_FILENO);
  ASSERT_TRUE(
      launchExtension({kId, std::string(kBroadcastUploadExtensionPoint), extension.program(), "Test", ""},
                      {"--capture=screen", "two words"}));
  ASSERT_TRUE(extension.waitForLaunches(1));
  const auto [pid, arguments] = *extension.launches().begin();
  EXPECT_EQ(arguments, (std::vector<std::string>{"--capture=screen", "two words"}));
  EXPECT_EQ(getsid(pid), pid) << "the extension leads a session of its own";
  // Standard input, output and error only, the input from /dev/null.
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  EXPECT_TRUE(testsupport::spinUntil(
      [&] { return std::distance(std::filesystem::directory_iterator(fds), {}) == 3; }));
  EXPECT_EQ(std::filesystem::read_symlink(fds / "0"), "/dev/null");
  // Nobody waits for the extension, yet once it ends no zombie of it may stay behind.
  kill(pid, SIGTERM);
  EXPECT_TRUE(testsupport::spinUntil([&] { return !std::filesystem::exists(fds.parent_path()); }));
}

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
