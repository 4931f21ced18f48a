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

// sorn-broadcast run by `prefix` with these arguments, its output in a file of the current
// folder named after its process id. Killed and reaped when it goes.
struct Broadcast {
  explicit Broadcast(const std::string& arguments, const std::string& prefix = {}) {
    std::string line = "exec " + prefix + " env -u DISPLAY -u WAYLAND_DISPLAY " SORN_BROADCAST " " +
                       arguments + " >broadcast-$$ 2>&1";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), line.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ), 0);
  }
  ~Broadcast() {
    if (kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  }
  std::string output() const {
    return (std::ostringstream() << std::ifstream("broadcast-" + std::to_string(pid)).rdbuf()).str();
  }
  // The exit status once the program ended by exiting; -1 otherwise.
  int exitStatus() const {
    int status = -1;
    within(30s, [&] { return waitpid(pid, &status, WNOHANG) == pid; });
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid = 0;
};

TEST(BroadcastExtensionTest, RunsOneAtATimeAndEndsOnStopOrAnErrorWithItsSessionsClosed) {
  const testsupport::TempDataDir dataDir;
  std::filesystem::current_path(dataDir.root());
  std::atomic<int> openDelaySeconds{0}, opened{0};
  // Opens with "tok" answered after the delay with scr-<n>, others refused; closes at once.
  testsupport::LoopbackHttpServer service([&](const testsupport::RecordedRequest& request) {
    if (request.target.ends_with("/close")) return testsupport::HttpReply{200, "{}"};
    if (request.header("Authorization") != "Bearer tok")
      return testsupport::HttpReply{401, R"({"message":"No."})"};
    const std::string id = "scr-" + std::to_string(++opened);
    std::this_thread::sleep_for(std::chrono::seconds(openDelaySeconds.load()));
    return testsupport::HttpReply{200, R"({"screenSessionId":")" + id + "\"}"};
  });
  const auto storeCredentials = [&](const std::string& token) {
    shared::SharedStore::open()->write(shared::StoreChanges()
                                           .setString(keys::kAccessToken, token)
                                           .setString(keys::kChannelId, "lounge")
                                           .setString(keys::kPrimarySessionId, "voice-session-1")
                                           .setString(keys::kApiBase, service.url("/v1/api"))
                                           .setBool(keys::kScreenActive, token.empty()));
  };
  const auto screenActive = [] {
    return shared::SharedStore::open()->read({keys::kScreenActive}).boolValue(keys::kScreenActive);
  };
  const auto closed = [&] {
    std::vector<std::string> ids;
    for (const auto& request : service.requests())
      if (request.target.ends_with("/close")) ids.push_back(nlohmann::json::parse(request.body)["sessionId"]);
    return ids;
  };

  storeCredentials("tok");
  Broadcast first("--capture=test-pattern --stats");
  ASSERT_TRUE(within(30s, [&] {
    const std::string out = first.output();
    const auto last = out.rfind("framesReceived=");
    return last != std::string::npos && out.compare(last, 17, "framesReceived=0 ") != 0;
  })) << first.output();
  Broadcast second("--capture=test-pattern");
  EXPECT_EQ(second.exitStatus(), 1);
  EXPECT_EQ(second.output(), "A screen broadcast is already running.\n");
  EXPECT_TRUE(screenActive());
  EXPECT_EQ(kill(first.pid, 0), 0);  // the running one goes on
  // One killed outright leaves no lock behind; Stop (SIGTERM) waits for a session handed
  // out after it, to close it.
  kill(first.pid, SIGKILL);
  EXPECT_EQ(first.exitStatus(), -1);
  openDelaySeconds = 4;
  Broadcast third("--capture=test-pattern");
  ASSERT_TRUE(within(30s, [&] { return opened == 2; })) << third.output();
  kill(third.pid, SIGTERM);
  EXPECT_EQ(third.exitStatus(), 0) << third.output();
  EXPECT_FALSE(screenActive());
  EXPECT_EQ(closed(), std::vector<std::string>{"scr-2"});

  openDelaySeconds = 0;
  // A session bus of its own that starts no services: no screen-cast portal answers on it.
  const std::string noPortal = "dbus-run-session --config-file=" SORN_NO_SERVICES_BUS " --";
  const std::string portalMissing = "Screen sharing needs the desktop's screen-cast portal";
  // The token stored (empty: with the screen.active a killed broadcast left), what runs
  // sorn-broadcast and its argument, then its exit status and the error it shows;
  // screen.active is false after, and every session handed out closed.
  const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
      {"bad-token", "", "--capture=test-pattern", 1, "No.\n"},
      {"", "", "--capture=test-pattern", 1, "Join a Sorn voice channel before sharing your screen.\n"},
      {"tok", "", "--capture=window", 2, "sorn-broadcast: Unknown capture source 'window'"},
      {"tok", noPortal, "--capture=portal", 1, portalMissing},
      {"tok", noPortal, "--capture=auto", 1, portalMissing},  // no display: the portal
  };
  for (const auto& [token, prefix, argument, status, errorText] : cases) {
    SCOPED_TRACE(argument);
    const testsupport::TempDataDir caseDir;
    storeCredentials(token);
    Broadcast extension(argument, prefix);
    EXPECT_EQ(extension.exitStatus(), status);
    EXPECT_NE(extension.output().find(errorText), std::string::npos) << extension.output();
    EXPECT_FALSE(screenActive());
    EXPECT_EQ(closed().size(), opened - 1);  // all but the killed one's
  }
  EXPECT_EQ(opened, 4);
}

}  // namespace
}  // namespace broadcast
