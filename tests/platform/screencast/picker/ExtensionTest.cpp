// Broadcast extensions: their metadata files, where they are looked up, and their start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
  const auto share = dir.root() / "share", file = extensionMetadataFile(share, kId);
  const FakeExtension extension(dir.root() / "bin");
  std::ofstream(dir.root() / "plain") << "#!/bin/sh\n";
  const auto is = [](const char* key, const std::string& value) { return [=](Keys& k) { k[key] = value; }; };
  const auto without = [](const char* key) { return [=](Keys& k) { k.erase(key); }; };
  const std::pair<bool, std::function<void(Keys&)>> cases[] = {
      {true, [](Keys&) {}},
      {true, without("AppGroup")},
      {true, is("Exec", "../../../bin/recorder")},  // relative to the file
      {false, without("Id")},
      {false, without("ExtensionPoint")},
      {false, without("Exec")},
      {false, without("Name")},
      {false, is("Name", "")},
      {false, is("Exec", "")},
      {false, is("Id", "com.tarnwell.sorn.other")},
      {false, is("ExtensionPoint", "com.tarnwell.sorn.widgets")},
      {false, is("Exec", (dir.root() / "missing").string())},
      {false, is("Exec", dir.root().string())},               // a folder
      {false, is("Exec", (dir.root() / "plain").string())}};  // may not be run
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    auto keys = extension.metadataKeys(kId, "Test Broadcast");
    cases[i].second(keys);
    FakeExtension::writeMetadata(share, kId, keys);
    const auto metadata = readExtensionMetadata(share, kId);
    ASSERT_EQ(metadata.has_value(), cases[i].first);
    if (!metadata) continue;
    EXPECT_EQ(
        std::tie(metadata->id, metadata->extensionPoint, metadata->exec, metadata->name, metadata->appGroup),
        std::make_tuple(kId, kBroadcastUploadExtensionPoint, extension.program(), "Test Broadcast",
                        keys.contains("AppGroup") ? "group.com.tarnwell.sorn" : ""));
  }
  // No file, no key file, and the keys outside the [Extension] group.
  std::string other = "[Other]\n";
  for (const auto& [key, value] : extension.metadataKeys(kId, "Other")) other += key + "=" + value + "\n";
  for (const std::string& text : {std::string(), std::string("Id=x\nnot a key file\n"), other}) {
    std::filesystem::remove(file);
    if (!text.empty()) std::ofstream(file) << text;
    EXPECT_FALSE(readExtensionMetadata(share, kId)) << text;
  }

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
  // A descriptor of ours, also our standard input while the extension starts: it may reach
  // the extension neither way.
  const int held = open((dir.root() / "held-open").c_str(), O_RDWR | O_CREAT, 0600);
  const int input = dup(STDIN_FILENO);
  dup2(held, STDIN_FILENO);
  std::ofstream(dir.root() / "plain") << "#!/bin/sh\n";
  const auto metadata = [](const std::filesystem::path& exec) {
    return ExtensionMetadata{std::string(kId), std::string(kBroadcastUploadExtensionPoint), exec, "Test", ""};
  };
  const auto children = testsupport::childProcesses();
  EXPECT_FALSE(launchExtension(metadata(dir.root() / "missing"), {"--capture=screen"}));
  EXPECT_FALSE(launchExtension(metadata(dir.root() / "plain"), {"--capture=screen"}));
  EXPECT_EQ(testsupport::childProcesses(), children);

  const bool launched = launchExtension(metadata(extension.program()), {"--capture=screen", "two words"});
  dup2(input, STDIN_FILENO);
  close(input);
  close(held);
  ASSERT_TRUE(launched);
  ASSERT_TRUE(extension.waitForLaunches(1));
  const auto [pid, arguments] = *extension.launches().begin();
  EXPECT_EQ(arguments, (Strings{"--capture=screen", "two words"}));
  EXPECT_EQ(getsid(pid), pid) << "the extension leads a session of its own";
  // Standard input, output and error only, the input from /dev/null: a descriptor of ours
  // it inherited would stay once the shell's own are closed.
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  EXPECT_TRUE(testsupport::spinUntil(
      [&] { return std::distance(std::filesystem::directory_iterator(fds), {}) == 3; }));
  EXPECT_EQ(std::filesystem::read_symlink(fds / "0"), "/dev/null");
  // Nobody waits for the extension, yet once it ends no zombie of it may stay behind.
  kill(pid, SIGTERM);
  EXPECT_TRUE(testsupport::spinUntil([&] { return testsupport::processStat(pid).first == '-'; }));
}

}  // namespace
