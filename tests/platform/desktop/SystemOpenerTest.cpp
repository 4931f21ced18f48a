// Opening outside the app through GIO's real default handlers, chosen by a mimeapps.list
// of the test's own.
#include <gtest/gtest.h>

#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/desktop/SystemOpener.h"
#include "tests/support/TempDataDir.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> readLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

TEST(SystemOpener, HandsWebMailAndPhoneUrlsToTheDefaultHandlerAndDropsEveryOtherScheme) {
  // GLib reads the XDG folders once per process, so they are set before its first use.
  testsupport::TempDataDir dataDir;
  const fs::path config = dataDir.root() / "config";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("XDG_DATA_DIRS", (dataDir.root() / "nothing-else").c_str(), 1);
  const fs::path opened = dataDir.root() / "opened.txt";
  const fs::path recorder = dataDir.root() / "recorder.sh";
  write(recorder, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened.string() + "'\n");
  fs::permissions(recorder, fs::perms::owner_all);

  // One handler that records, made the default for every scheme the test uses, also for
  // those that must never reach it (and for the text files a file: URL would open).
  const std::vector<std::string> types = {"x-scheme-handler/http", "x-scheme-handler/https",
                                          "x-scheme-handler/mailto", "x-scheme-handler/tel",
                                          "x-scheme-handler/sms", "x-scheme-handler/ssh",
                                          "x-scheme-handler/sornlocal", "x-scheme-handler/javascript",
                                          "text/plain"};
  std::ostringstream mimeTypes;
  std::ostringstream defaults;
  defaults << "[Default Applications]\n";
  for (const auto& type : types) {
    mimeTypes << type << ";";
    defaults << type << "=sorn-test-recorder.desktop\n";
  }
  write(dataDir.dataHome() / "applications" / "sorn-test-recorder.desktop",
        "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + recorder.string() +
            " %u\nMimeType=" + mimeTypes.str() + "\nNoDisplay=true\n");
  write(config / "mimeapps.list", defaults.str());
  const fs::path localFile = dataDir.root() / "notes.txt";
  write(localFile, "local\n");

  auto& opener = platform::desktop::SystemOpener::shared();
  for (const std::string& dropped : {std::string("ssh://host.example/"), std::string("sornlocal:run"),
                                     std::string("javascript:alert(1)"), "file://" + localFile.string(),
                                     std::string("not a url"), std::string("")}) {
    opener.openExternally(dropped);
  }
  const std::vector<std::string> leaving = {"https://example.org/a?b=c", "http://example.org/",
                                            "mailto:help@example.org", "tel:+15550100", "sms:+15550100",
                                            "HTTPS://Example.org/upper"};
  for (const auto& url : leaving) opener.openExternally(url);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (readLines(opened).size() < leaving.size() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(10'000);
  }
  auto seen = readLines(opened);
  auto expected = leaving;
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
}

}  // namespace
