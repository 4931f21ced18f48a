#include "platform/screencast/picker/ExtensionLauncher.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "tests/platform/screencast/picker/FakeExtension.h"
#include "tests/platform/screencast/picker/MainLoopSpin.h"
#include "tests/support/TempDataDir.h"

namespace platform::screencast {
namespace {

using testsupport::FakeExtension;
using testsupport::spinUntil;

constexpr const char* kId = "com.tarnwell.sorn.test-broadcast";

ExtensionMetadata metadataFor(const std::filesystem::path& program) {
  return {.id = kId,
          .extensionPoint = std::string(kBroadcastUploadExtensionPoint),
          .exec = program,
          .name = "Test Broadcast",
          .appGroup = ""};
}

std::vector<std::string> openDescriptors(pid_t pid) {
  std::vector<std::string> descriptors;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    descriptors.push_back(entry.path().filename().string());
  }
  std::sort(descriptors.begin(), descriptors.end());
  return descriptors;
}

// Runs the probe program and gives its exit status and standard output.
std::pair<int, std::string> runProbe(const std::filesystem::path& probe, const char* command, bool keepOutput) {
  const std::string program = probe.string();
  const char* argv[] = {program.c_str(), command, kId, nullptr};
  char* output = nullptr;
  int status = -1;
  GError* error = nullptr;
  // A started extension inherits the probe's standard output; reading it to its end
  // would wait for the extension, so "launch" sends it nowhere.
  const auto flags = keepOutput ? G_SPAWN_DEFAULT : G_SPAWN_STDOUT_TO_DEV_NULL;
  const bool ran = g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, flags, nullptr, nullptr,
                                keepOutput ? &output : nullptr, nullptr, &status, &error) != FALSE;
  g_clear_error(&error);
  std::string text = output != nullptr ? output : "";
  g_free(output);
  return {ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

TEST(ExtensionLauncherTest, StartsTheProgramDetachedAndReapsItWhenItEnds) {
  const testsupport::TempDataDir dir;
  const FakeExtension extension(dir.root() / "bin");
  // A descriptor the app holds open must not leak into the extension.
  std::ofstream held(dir.root() / "held-open");

  ASSERT_TRUE(launchExtension(metadataFor(extension.program()), {"--capture=screen", "two words"}));
  ASSERT_TRUE(extension.waitForLaunches(1));
  const auto record = extension.launches().front();
  EXPECT_EQ(record.arguments, (std::vector<std::string>{"--capture=screen", "two words"}));
  EXPECT_TRUE(testsupport::processIsRunning(record.pid));
  EXPECT_EQ(getsid(record.pid), record.pid) << "the extension leads a session of its own";
  EXPECT_NE(getpgid(record.pid), getpgrp());
  EXPECT_EQ(openDescriptors(record.pid), (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(record.pid) + "/fd/0"), "/dev/null");

  // Nobody waits for the extension, yet once it ends no zombie of it may stay behind.
  kill(record.pid, SIGTERM);
  EXPECT_TRUE(spinUntil([&] { return testsupport::processIsGone(record.pid); }));
}

TEST(ExtensionLauncherTest, ProgramThatCannotRunIsReportedAndStartsNothing) {
  const testsupport::TempDataDir dir;
  const auto notExecutable = dir.root() / "not-executable";
  std::ofstream(notExecutable) << "#!/bin/sh\n";
  const auto childrenBefore = testsupport::childProcesses();

  EXPECT_FALSE(launchExtension(metadataFor(dir.root() / "missing"), {"--capture=screen"}));
  EXPECT_FALSE(launchExtension(metadataFor(notExecutable), {"--capture=screen"}));
  EXPECT_EQ(testsupport::childProcesses(), childrenBefore);
}

TEST(ExtensionLauncherTest, AnInstalledAppFindsItsOwnShareFirstAndItsExtensionOutlivesIt) {
  const testsupport::TempDataDir dir;
  // An installed prefix: the app in bin/, the extension beside it, its metadata in share/.
  const auto prefix = dir.root() / "prefix";
  std::filesystem::create_directories(prefix / "bin");
  const auto probe = prefix / "bin" / "picker_probe";
  std::filesystem::copy_file(PICKER_PROBE_PATH, probe);
  const FakeExtension installed(prefix / "bin", "sorn-test-broadcast");
  auto keys = installed.metadataKeys(kId, "Installed");
  keys["Exec"] = "sorn-test-broadcast";
  FakeExtension::writeMetadata(prefix / "share", kId, keys);
  // The user's data folder names another one; the program's own share comes first.
  const FakeExtension user(dir.root() / "user-bin");
  FakeExtension::writeMetadata(dir.dataHome(), kId, user.metadataKeys(kId, "User"));

  const auto [found, output] = runProbe(probe, "find", true);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(output, installed.program().string() + "\nInstalled\n");

  const auto [launched, ignored] = runProbe(probe, "launch", false);
  ASSERT_EQ(launched, 0);
  ASSERT_TRUE(installed.waitForLaunches(1));
  const auto record = installed.launches().front();
  // The probe has exited; the extension it started is still running on its own.
  EXPECT_TRUE(testsupport::processIsRunning(record.pid));
  EXPECT_EQ(getsid(record.pid), record.pid);
  EXPECT_EQ(record.arguments, std::vector<std::string>{"--capture=screen"});
  EXPECT_TRUE(user.launches().empty());
}

}  // namespace
}  // namespace platform::screencast
