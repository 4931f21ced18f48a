// Broadcast extensions: their metadata files, where they are looked up, and their start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

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

}  // namespace
}  // namespace platform::screencast
