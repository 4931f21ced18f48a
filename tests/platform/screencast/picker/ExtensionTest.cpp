// Broadcast extensions: their metadata files, where they are looked up, and their start.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "platform/screencast/picker/ExtensionLauncher.h"
#include "platform/screencast/picker/ExtensionLookup.h"
#include "platform/screencast/picker/ExtensionMetadata.h"
#include "tests/support/FakeExtension.h"
#include "tests/support/TempDataDir.h"

namespace {

using namespace platform::screencast;
using testsupport::FakeExtension;
using Keys = std::map<std::string, std::string>;
using Strings = std::vector<std::string>;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

TEST(ExtensionMetadataTest, ReadsOnlyCompleteMetadataOfTheRightExtension) {
  // An installed layout: the metadata under share/, the program in bin/ beside it.
  const testsupport::TempDataDir dir;
  const auto share = dir.root() / "share";
  const FakeExtension extension(dir.root() / "bin");
  std::ofstream(dir.root() / "plain") << "#!/bin/sh\n";
  const std::pair<bool, std::function<void(Keys&)>> cases[] = {
      {true, [](Keys&) {}},
      {true, [](Keys& k) { k.erase("AppGroup"); }},
      {true, [](Keys& k) { k["Exec"] = "../../../bin/recorder"; }},  // relative to the file
      {false, [](Keys& k) { k.erase("Id"); }},
      {false, [](Keys& k) { k.erase("ExtensionPoint"); }},
      {false, [](Keys& k) { k.erase("Exec"); }},
      {false, [](Keys& k) { k.erase("Name"); }},
      {false, [](Keys& k) { k["Name"] = ""; }},
      {false, [](Keys& k) { k["Exec"] = ""; }},
      {false, [](Keys& k) { k["Id"] = "com.tarnwell.sorn.other"; }},
      {false, [](Keys& k) { k["ExtensionPoint"] = "com.tarnwell.sorn.widgets"; }},
      {false, [&](Keys& k) { k["Exec"] = (dir.root() / "missing").string(); }},
      {false, [&](Keys& k) { k["Exec"] = dir.root().string(); }},               // a folder
      {false, [&](Keys& k) { k["Exec"] = (dir.root() / "plain").string(); }}};  // may not be run
  int index = 0;
  for (const auto& [usable, change] : cases) {
    SCOPED_TRACE(index++);
    auto keys = extension.metadataKeys(kId, "Test Broadcast");
    change(keys);
    FakeExtension::writeMetadata(share, kId, keys);
    const auto metadata = readExtensionMetadata(share, kId);
    ASSERT_EQ(metadata.has_value(), usable);
    if (!metadata) continue;
    EXPECT_EQ(
        std::tie(metadata->id, metadata->extensionPoint, metadata->exec, metadata->name, metadata->appGroup),
        std::make_tuple(kId, kBroadcastUploadExtensionPoint, extension.program(), "Test Broadcast",
                        keys.contains("AppGroup") ? "group.com.tarnwell.sorn" : ""));
  }
  // No file, no key file, and keys outside the [Extension] group.
  const auto file = extensionMetadataFile(share, kId);
  std::filesystem::remove(file);
  EXPECT_FALSE(readExtensionMetadata(share, kId));
  std::ofstream(file) << "Id=" << kId << "\nthis is not a key file\n";
  EXPECT_FALSE(readExtensionMetadata(share, kId));
  std::ofstream(file) << "[Other]\nId=" << kId << "\nExtensionPoint=com.tarnwell.sorn.broadcast-upload\nExec="
                      << extension.program().string() << "\nName=Other\n";
  EXPECT_FALSE(readExtensionMetadata(share, kId));

  // Ids are plain reverse-domain names: one that climbs out of the folder reaches nothing.
  for (const char* id : {"", "../evil", "a/b", ".hidden", "trailing.", "a..b", "with space", "new\nline"}) {
    EXPECT_FALSE(isValidExtensionId(id)) << id;
  }
  EXPECT_TRUE(isValidExtensionId("a-b_c.D9"));
  FakeExtension::writeMetadata(share, "../evil", extension.metadataKeys("../evil", "Evil"));
  ASSERT_TRUE(std::filesystem::exists(share / "sorn" / "evil.extension"));
  EXPECT_FALSE(readExtensionMetadata(share, "../evil"));
}

TEST(ExtensionLookupTest, SearchesTheProgramShareThenDataHomeThenDataDirsAndTakesTheFirstUsable) {
  const testsupport::TempDataDir dir;
  setenv("XDG_DATA_DIRS", "/opt/a/share:relative/share::/opt/b/share", 1);
  const auto programShare = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "share");
  EXPECT_EQ(extensionDataDirs(),
            (std::vector<std::filesystem::path>{programShare.lexically_normal(), dir.dataHome(),
                                                "/opt/a/share", "/opt/b/share"}));

  setenv("XDG_DATA_DIRS", (dir.root().string() + "/system:" + dir.root().string() + "/other").c_str(), 1);
  const FakeExtension extension(dir.root() / "bin");
  EXPECT_FALSE(findExtension(kId));
  FakeExtension::writeMetadata(dir.root() / "other", kId, extension.metadataKeys(kId, "Other"));
  FakeExtension::writeMetadata(dir.root() / "system", kId, extension.metadataKeys(kId, "System"));
  EXPECT_EQ(findExtension(kId)->name, "System");
  FakeExtension::writeMetadata(dir.dataHome(), kId, extension.metadataKeys(kId, "Home"));
  EXPECT_EQ(findExtension(kId)->name, "Home");
  // A broken file in the user's folder does not hide the system's good one.
  FakeExtension::writeMetadata(dir.dataHome(), kId, {{"Id", kId}, {"Name", "Home"}});
  EXPECT_EQ(findExtension(kId)->name, "System");
}

TEST(ExtensionLauncherTest, StartsTheProgramDetachedAndReapsItWhenItEndsOrReportsThatItCannot) {
  const testsupport::TempDataDir dir;
  const FakeExtension extension(dir.root() / "bin");
  std::ofstream held(dir.root() / "held-open");  // a descriptor of ours, not to be inherited
  std::ofstream(dir.root() / "plain") << "#!/bin/sh\n";
  const auto metadata = [](const std::filesystem::path& exec) {
    return ExtensionMetadata{std::string(kId), std::string(kBroadcastUploadExtensionPoint), exec, "Test", ""};
  };
  const auto children = testsupport::childProcesses();
  EXPECT_FALSE(launchExtension(metadata(dir.root() / "missing"), {"--capture=screen"}));
  EXPECT_FALSE(launchExtension(metadata(dir.root() / "plain"), {"--capture=screen"}));
  EXPECT_EQ(testsupport::childProcesses(), children);

  ASSERT_TRUE(launchExtension(metadata(extension.program()), {"--capture=screen", "two words"}));
  ASSERT_TRUE(extension.waitForLaunches(1));
  const auto [pid, arguments] = *extension.launches().begin();
  EXPECT_EQ(arguments, (Strings{"--capture=screen", "two words"}));
  EXPECT_EQ(getsid(pid), pid) << "the extension leads a session of its own";
  // Standard input, output and error only, the input from /dev/null. The fake extension, a
  // shell script, holds its own script open until it has become its `sleep` (whose name
  // shows a moment before the shell's descriptors close): a descriptor of ours it inherited
  // would stay.
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  EXPECT_TRUE(testsupport::spinUntil([&] {
    std::string command;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), command);
    return command == "sleep" && std::distance(std::filesystem::directory_iterator(fds), {}) == 3;
  }));
  EXPECT_EQ(std::filesystem::read_symlink(fds / "0"), "/dev/null");
  // Nobody waits for the extension, yet once it ends no zombie of it may stay behind.
  kill(pid, SIGTERM);
  EXPECT_TRUE(testsupport::spinUntil([&] { return testsupport::processStat(pid).first == '-'; }));
}

}  // namespace
