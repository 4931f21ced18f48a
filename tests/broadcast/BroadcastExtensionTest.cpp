// sorn-broadcast as a process of its own, without a display, against a loopback service
// with credentials in a real store.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/Command.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/Within.h"

namespace broadcast {
namespace {

using namespace std::chrono_literals;
using testsupport::within;
namespace keys = shared::keys;

// sorn-broadcast run by `prefix` with these arguments, without a display, its output in a
// file of the current folder named after its process id.
struct Broadcast : testsupport::Process {
  explicit Broadcast(const std::string& arguments, const std::string& prefix = {})
      : Process({"sh", "-c",
                 "exec " + prefix + " env -u DISPLAY -u WAYLAND_DISPLAY " SORN_BROADCAST " " + arguments +
                     " >broadcast-$$ 2>&1"}) {}
  std::string output() const { return testsupport::outputOf("cat broadcast-" + std::to_string(pid())); }
};

TEST(BroadcastExtensionTest, RunsOneAtATimeAndEndsOnStopOrAnErrorWithItsSessionsClosed) {
  const testsupport::TempDataDir dataDir;
  std::filesystem::current_path(dataDir.root());
  std::atomic<int> openDelaySeconds{0}, opened{0};
  // Opens with "tok" answered after the delay with scr-<n>, others refused; closes at once.
  testsupport::LoopbackHttpServer service([&](const testsupport::RecordedRequest& request) {
    if (request.target.ends_with("/close")) return testsupport::HttpReply{200, "{}"};
    if (request.get_header_value("Authorization") != "Bearer tok")
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
  const std::string framesCounted = "grep -q 'framesReceived=[1-9]' broadcast-" + std::to_string(first.pid());
  ASSERT_TRUE(within(30s, [&] { return std::system(framesCounted.c_str()) == 0; })) << first.output();
  Broadcast second("--capture=test-pattern");
  EXPECT_EQ(second.end(), "exit 1");
  EXPECT_EQ(second.output(), "A screen broadcast is already running.\n");
  EXPECT_TRUE(screenActive());
  EXPECT_EQ(kill(first.pid(), 0), 0);  // the running one goes on
  // One killed outright leaves no lock behind; Stop (SIGTERM) waits for a session handed
  // out after it, to close it.
  EXPECT_EQ(first.end(SIGKILL), "killed");
  openDelaySeconds = 4;
  Broadcast third("--capture=test-pattern");
  ASSERT_TRUE(within(30s, [&] { return opened == 2; })) << third.output();
  EXPECT_EQ(third.end(SIGTERM), "exit 0") << third.output();
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
    EXPECT_EQ(extension.end(), "exit " + std::to_string(status));
    EXPECT_NE(extension.output().find(errorText), std::string::npos) << extension.output();
    EXPECT_FALSE(screenActive());
    EXPECT_EQ(closed().size(), opened - 1);  // all but the killed one's
  }
  EXPECT_EQ(opened, 4);
}

}  // namespace
}  // namespace broadcast
