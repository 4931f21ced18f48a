#include "platform/screencast/picker/ExtensionMetadata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>

#include "platform/screencast/picker/ExtensionLookup.h"
#include "tests/platform/screencast/picker/FakeExtension.h"
#include "tests/support/TempDataDir.h"

namespace platform::screencast {
namespace {

using testsupport::FakeExtension;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

// Keeps XDG_DATA_DIRS as it was before the test.
class DataDirsGuard {
 public:
  DataDirsGuard() {
    if (const char* value = std::getenv("XDG_DATA_DIRS")) saved_ = value;
  }
  ~DataDirsGuard() {
    if (saved_) {
      setenv("XDG_DATA_DIRS", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_DIRS");
    }
  }
  DataDirsGuard(const DataDirsGuard&) = delete;
  DataDirsGuard& operator=(const DataDirsGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(ExtensionMetadataTest, ReadsOnlyCompleteMetadataOfTheRightExtension) {
  using Keys = std::map<std::string, std::string>;
  struct Case {
    const char* what;
    std::function<void(Keys&, const std::filesystem::path& dataDir)> change;
    bool usable;
  };
  const Case cases[] = {
      {"complete", [](Keys&, const auto&) {}, true},
      {"without AppGroup", [](Keys& k, const auto&) { k.erase("AppGroup"); }, true},
      {"without Id", [](Keys& k, const auto&) { k.erase("Id"); }, false},
      {"without ExtensionPoint", [](Keys& k, const auto&) { k.erase("ExtensionPoint"); }, false},
      {"without Exec", [](Keys& k, const auto&) { k.erase("Exec"); }, false},
      {"without Name", [](Keys& k, const auto&) { k.erase("Name"); }, false},
      {"empty Name", [](Keys& k, const auto&) { k["Name"] = ""; }, false},
      {"empty Exec", [](Keys& k, const auto&) { k["Exec"] = ""; }, false},
      {"another extension's Id", [](Keys& k, const auto&) { k["Id"] = "com.tarnwell.sorn.other"; }, false},
      {"widget extension point",
       [](Keys& k, const auto&) { k["ExtensionPoint"] = "com.tarnwell.sorn.widgets"; }, false},
      {"Exec that does not exist", [](Keys& k, const auto& d) { k["Exec"] = (d / "missing").string(); }, false},
      {"Exec that is a folder", [](Keys& k, const auto& d) { k["Exec"] = d.string(); }, false},
      {"Exec that may not be run",
       [](Keys& k, const auto& d) {
         std::ofstream(d / "plain") << "#!/bin/sh\n";
         k["Exec"] = (d / "plain").string();
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const testsupport::TempDataDir dir;
    const FakeExtension extension(dir.root() / "bin");
    auto keys = extension.metadataKeys(kId, "Test Broadcast");
    c.change(keys, dir.root());
    FakeExtension::writeMetadata(dir.dataHome(), kId, keys);

    const auto metadata = readExtensionMetadata(dir.dataHome(), kId);
    ASSERT_EQ(metadata.has_value(), c.usable);
    if (!c.usable) continue;
    EXPECT_EQ(metadata->id, kId);
    EXPECT_EQ(metadata->extensionPoint, kBroadcastUploadExtensionPoint);
    EXPECT_EQ(metadata->exec, extension.program());
    EXPECT_EQ(metadata->name, "Test Broadcast");
    EXPECT_EQ(metadata->appGroup, keys.count("AppGroup") != 0 ? "group.com.tarnwell.sorn" : "");
  }
}

TEST(ExtensionMetadataTest, MissingOrMalformedFilesAreNotUsable) {
  const testsupport::TempDataDir dir;
  EXPECT_FALSE(readExtensionMetadata(dir.dataHome(), kId));

  const auto file = extensionMetadataFile(dir.dataHome(), kId);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "Id=" << kId << "\nthis is not a key file\n";
  EXPECT_FALSE(readExtensionMetadata(dir.dataHome(), kId));

  // Keys outside the [Extension] group do not count.
  std::ofstream(file) << "[Other]\nId=" << kId << "\nExtensionPoint=com.tarnwell.sorn.broadcast-upload\n"
                      << "Exec=/bin/true\nName=Other\n";
  EXPECT_FALSE(readExtensionMetadata(dir.dataHome(), kId));
}

TEST(ExtensionMetadataTest, RelativeExecIsTakenFromThePrefixBinFolder) {
  const testsupport::TempDataDir dir;
  const auto prefix = dir.root() / "prefix";
  const FakeExtension extension(prefix / "bin", "sorn-test-broadcast");
  auto keys = extension.metadataKeys(kId, "Test Broadcast");
  keys["Exec"] = "sorn-test-broadcast";
  FakeExtension::writeMetadata(prefix / "share", kId, keys);

  const auto metadata = readExtensionMetadata(prefix / "share", kId);
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->exec, prefix / "bin" / "sorn-test-broadcast");
}

TEST(ExtensionMetadataTest, OnlyPlainReverseDomainIdsAreAccepted) {
  const struct {
    const char* id;
    bool valid;
  } cases[] = {
      {"com.tarnwell.sorn.broadcast", true}, {"a-b_c.D9", true},   {"", false},
      {"../evil", false},                    {"a/b", false},        {".hidden", false},
      {"trailing.", false},                  {"a..b", false},       {"with space", false},
      {"new\nline", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidExtensionId(c.id), c.valid) << c.id;

  // An id that climbs out of the extensions folder does not reach a file there.
  const testsupport::TempDataDir dir;
  const FakeExtension extension(dir.root() / "bin");
  std::filesystem::create_directories(dir.dataHome() / "sorn");
  std::ofstream file(dir.dataHome() / "sorn" / "evil.extension");
  file << "[Extension]\n";
  for (const auto& [key, value] : extension.metadataKeys("../evil", "Evil")) file << key << '=' << value << '\n';
  file.close();
  EXPECT_FALSE(readExtensionMetadata(dir.dataHome(), "../evil"));
}

TEST(ExtensionLookupTest, SearchesTheProgramShareThenDataHomeThenDataDirs) {
  const testsupport::TempDataDir dir;
  const DataDirsGuard guard;
  setenv("XDG_DATA_DIRS", "/opt/a/share:relative/share::/opt/b/share", 1);

  const auto dirs = extensionDataDirs();
  const auto program = std::filesystem::read_symlink("/proc/self/exe");
  const std::vector<std::filesystem::path> expected{(program.parent_path() / ".." / "share").lexically_normal(),
                                                    dir.dataHome(), "/opt/a/share", "/opt/b/share"};
  EXPECT_EQ(dirs, expected);

  unsetenv("XDG_DATA_DIRS");
  const auto defaults = extensionDataDirs();
  ASSERT_GE(defaults.size(), 2U);
  EXPECT_EQ(defaults[defaults.size() - 2], "/usr/local/share");
  EXPECT_EQ(defaults.back(), "/usr/share");
}

TEST(ExtensionLookupTest, FirstUsableMetadataWins) {
  const testsupport::TempDataDir dir;
  const DataDirsGuard guard;
  const auto systemDir = dir.root() / "system";
  const auto otherSystemDir = dir.root() / "other-system";
  setenv("XDG_DATA_DIRS", (systemDir.string() + ":" + otherSystemDir.string()).c_str(), 1);
  const FakeExtension extension(dir.root() / "bin");

  EXPECT_FALSE(findExtension(kId));

  FakeExtension::writeMetadata(otherSystemDir, kId, extension.metadataKeys(kId, "Other System"));
  FakeExtension::writeMetadata(systemDir, kId, extension.metadataKeys(kId, "System"));
  EXPECT_EQ(findExtension(kId)->name, "System");

  FakeExtension::writeMetadata(dir.dataHome(), kId, extension.metadataKeys(kId, "Home"));
  EXPECT_EQ(findExtension(kId)->name, "Home");

  // A broken file in the user's folder does not hide the system's good one.
  auto broken = extension.metadataKeys(kId, "Home");
  broken.erase("Exec");
  FakeExtension::writeMetadata(dir.dataHome(), kId, broken);
  EXPECT_EQ(findExtension(kId)->name, "System");
}

}  // namespace
}  // namespace platform::screencast
