// sorn-broadcast as a process of its own, without a display, against a loopback service
// with credentials in a real store.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/Within.h"

extern char** environ;

namespace broadcast {
namespace {

using namespace std::chrono_literals;
using testsupport::within;
namespace keys = shared::keys;

// sorn-broadcast run by `prefix` with these arguments, its output and errors in files.
// Killed and reaped when it goes.
class Broadcast {
 public:
  Broadcast(const std::string& arguments, const std::string& prefix = {}) {
    std::string line = "exec " + prefix + " env -u DISPLAY -u WAYLAND_DISPLAY " SORN_BROADCAST " " +
                       arguments + " >" + out_ + ".out 2>" + out_ + ".err";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), line.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, argv, environ), 0);
  }
  ~Broadcast() {
    if (kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  }
  std::string text(const char* which) const {
    std::ostringstream text;
    text << std::ifstream(out_ + which).rdbuf();
    return text.str();
  }
  // The exit status once the program ended by exiting; -1 otherwise.
  int exitStatus() {
    int status = -1;
    within(30s, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Whether --stats reports received frames.
  bool streams() const {
    return within(30s, [&] {
      const std::string out = text(".out");
      const auto last = out.rfind("framesReceived=");
      return last != std::string::npos && out.compare(last, 17, "framesReceived=0 ") != 0;
    });
  }
  pid_t pid_ = 0;

 private:
  static inline int started_ = 0;
  const std::string out_ = std::filesystem::current_path() / ("broadcast-" + std::to_string(++started_));
};

class BroadcastExtensionTest : public ::testing::Test {
 protected:
  void storeCredentials(const std::string& token) {
    shared::SharedStore::open()->write(shared::StoreChanges()
                                           .setString(keys::kAccessToken, token)
                                           .setString(keys::kChannelId, "lounge")
                                           .setString(keys::kPrimarySessionId, "voice-session-1")
                                           .setString(keys::kApiBase, service.url("/v1/api")));
  }
  static bool screenActive() {
    return shared::SharedStore::open()->read({keys::kScreenActive}).boolValue(keys::kScreenActive);
  }
  // The sessions closed, in order.
  std::vector<std::string> closed() const {
    std::vector<std::string> ids;
    for (const auto& request : service.requests())
      if (request.target.ends_with("/close")) ids.push_back(nlohmann::json::parse(request.body)["sessionId"]);
    return ids;
  }
  const testsupport::TempDataDir dataDir;
  std::atomic<int> openDelaySeconds{0}, opened{0};
  // Opens with "tok" answered after the delay with scr-<n>, others refused; closes at once.
  testsupport::LoopbackHttpServer service{[this](const testsupport::RecordedRequest& request) {
    if (request.target.ends_with("/close")) return testsupport::HttpReply{200, "{}"};
    if (request.header("Authorization") != "Bearer tok")
      return testsupport::HttpReply{401, R"({"message":"No."})"};
    const std::string id = "scr-" + std::to_string(++opened);
    std::this_thread::sleep_for(std::chrono::seconds(openDelaySeconds.load()));
    return testsupport::HttpReply{200, R"({"screenSessionId":")" + id + "\"}"};
  }};
};

// One broadcast at a time, also after one was killed outright. Stop (SIGTERM) ends it
// cleanly, and a session the service hands out only after Stop is closed before the
// process ends.
TEST_F(BroadcastExtensionTest, StreamsOneAtATimeAndClosesItsSessionsOnStop) {
  std::filesystem::current_path(dataDir.root());
  storeCredentials("tok");
  Broadcast first("--capture=test-pattern --stats");
  ASSERT_TRUE(first.streams()) << first.text(".out") << first.text(".err");
  EXPECT_EQ(screenActive(), true);

  Broadcast second("--capture=test-pattern");
  EXPECT_EQ(second.exitStatus(), 1);
  EXPECT_EQ(second.text(".err"), "A screen broadcast is already running.\n");
  EXPECT_EQ(screenActive(), true);
  EXPECT_EQ(kill(first.pid_, 0), 0);  // the running one goes on

  kill(first.pid_, SIGKILL);
  EXPECT_EQ(first.exitStatus(), -1);
  openDelaySeconds = 4;
  Broadcast third("--capture=test-pattern");
  ASSERT_TRUE(within(30s, [&] { return opened == 2; })) << third.text(".err");
  kill(third.pid_, SIGTERM);
  EXPECT_EQ(third.exitStatus(), 0) << third.text(".err");
  EXPECT_EQ(screenActive(), false);
  EXPECT_EQ(closed(), std::vector<std::string>{"scr-2"});
}

TEST_F(BroadcastExtensionTest, EndsWithAnErrorAndNoOpenSession) {
  std::filesystem::current_path(dataDir.root());
  // A session bus of its own that starts no services: no screen-cast portal answers on it.
  std::ofstream("bus.conf")
      << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
         "<auth>EXTERNAL</auth><policy context=\"default\"><allow own=\"*\"/><allow eavesdrop=\"true\"/>"
         "<allow send_destination=\"*\" eavesdrop=\"true\"/></policy></busconfig>";
  const std::string noPortal = "dbus-run-session --config-file=bus.conf --";
  const std::string portalMissing = "Screen sharing needs the desktop's screen-cast portal";
  // The token stored, what runs sorn-broadcast and its argument, then its exit status,
  // the error it shows; screen.active is false and every session handed out closed after.
  const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
      {"bad-token", "", "--capture=test-pattern", 1, "No.\n"},
      {"", "", "--capture=window", 2, "sorn-broadcast: Unknown capture source 'window'"},
      {"tok", noPortal, "--capture=portal", 1, portalMissing},
      {"tok", noPortal, "--capture=auto", 1, portalMissing},  // no display: the portal
  };
  for (const auto& [token, prefix, argument, status, errorText] : cases) {
    SCOPED_TRACE(argument);
    const testsupport::TempDataDir caseDir;
    if (!token.empty()) storeCredentials(token);
    Broadcast extension(argument, prefix);
    EXPECT_EQ(extension.exitStatus(), status);
    EXPECT_NE(extension.text(".err").find(errorText), std::string::npos) << extension.text(".err");
    EXPECT_FALSE(screenActive());  // finished ran after the error
    EXPECT_EQ(closed().size(), opened);
  }
  EXPECT_EQ(opened, 2);
}

}  // namespace
}  // namespace broadcast
