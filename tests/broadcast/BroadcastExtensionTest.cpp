// sorn-broadcast end to end: the real program with the test source against the real
// demo service, with credentials in a real store.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"
#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/broadcast/ChildProcess.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"

namespace broadcast {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr auto kPatience = 30s;
// What the demo service hands out and checks (demo::DemoConfig).
constexpr const char* kDemoToken = "demo-token-7f3a";
constexpr const char* kDemoChannel = "lounge";
const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY"};

std::int64_t framesReceivedIn(const std::string& line) {
  std::smatch match;
  static const std::regex counters("framesReceived=([0-9]+) framesDropped=([0-9]+)");
  return std::regex_search(line, match, counters) ? std::stoll(match[1]) : -1;
}

class BroadcastExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::http::installSharedTransport(platform::http::CurlSession::shared());
    auto listening = demo.waitForOutputLine(
        [](const std::string& line) {
          return line.find("listening on http://127.0.0.1:") != std::string::npos;
        },
        kPatience);
    ASSERT_TRUE(listening) << demo.errorOutput();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(*listening, match, std::regex("127\\.0\\.0\\.1:([0-9]+)")));
    apiBase = "http://127.0.0.1:" + match[1].str() + "/v1/api";
  }

  void storeCredentials(const std::string& token, const std::string& base = {}) const {
    auto store = shared::SharedStore::open();
    ASSERT_TRUE(store);
    store->setString(shared::keys::kAccessToken, token);
    store->setString(shared::keys::kChannelId, kDemoChannel);
    store->setString(shared::keys::kPrimarySessionId, "voice-session-1");
    store->setString(shared::keys::kApiBase, base.empty() ? apiBase : base);
    store->setDouble(shared::keys::kCredentialsUpdatedAt, 1700000000.5);
  }

  ScreenShareSignaling client() const { return {apiBase, kDemoToken, kDemoChannel}; }

  // How many screen sessions the service handed out so far: it numbers them from 1,
  // so a probe session tells (and is one more).
  int sessionsHandedOut() const {
    auto probe = ScreenShareSignaling{apiBase, kDemoToken, "probe"}.openScreenSession("probe");
    EXPECT_TRUE(probe.ok());
    return probe.ok() ? std::stoi(probe.value().substr(std::string("scr-").size())) - 1 : -1;
  }

  static std::optional<bool> storedScreenActive() {
    auto suite = platform::suite::Suite::open(shared::kSuiteName);
    return suite ? suite->boolValue(shared::keys::kScreenActive) : std::nullopt;
  }

  testsupport::TempDataDir dataDir;
  ChildProcess demo{{SORN_DEMO_SERVICE, "--port", "0"}};
  std::string apiBase;
};

TEST_F(BroadcastExtensionTest, OpensTheSessionStreamsFramesAndClosesItOnSigterm) {
  storeCredentials(kDemoToken);
  ChildProcess extension({SORN_BROADCAST, "--capture=test-pattern", "--stats"}, kNoDisplay);
  auto flowing = extension.waitForOutputLine(
      [](const std::string& line) { return framesReceivedIn(line) > 0; }, kPatience);
  ASSERT_TRUE(flowing) << extension.output() << extension.errorOutput();
  EXPECT_EQ(storedScreenActive(), true);

  extension.signal(SIGTERM);
  EXPECT_EQ(extension.waitForExit(kPatience), 0) << extension.errorOutput();
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_GT(framesReceivedIn(extension.output().substr(extension.output().rfind("framesReceived="))), 0);

  // The extension's session was the only one, and it is closed already.
  EXPECT_EQ(sessionsHandedOut(), 1);
  auto closeAgain = client().closeScreenSession("scr-1", std::nullopt);
  ASSERT_FALSE(closeAgain.ok());
  ASSERT_TRUE(closeAgain.error().signalError());
  EXPECT_EQ(closeAgain.error().signalError()->code(), 404);
}

TEST_F(BroadcastExtensionTest, RefusesWithoutCredentials) {
  ChildProcess extension({SORN_BROADCAST, "--capture=test-pattern"}, kNoDisplay);
  auto status = extension.waitForExit(kPatience);
  ASSERT_TRUE(status);
  EXPECT_NE(*status, 0);
  EXPECT_NE(extension.errorOutput().find("Join a Sorn voice channel before sharing your screen.\n"),
            std::string::npos)
      << extension.errorOutput();
  // finished still ran after the refusal.
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_EQ(sessionsHandedOut(), 0);
}

TEST_F(BroadcastExtensionTest, AFailedOpenEndsTheBroadcastWithTheServicesMessage) {
  storeCredentials("not-the-demo-token");
  ChildProcess extension({SORN_BROADCAST, "--capture=test-pattern"}, kNoDisplay);
  auto status = extension.waitForExit(kPatience);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 1);
  EXPECT_NE(extension.errorOutput().find("Invalid or missing access token.\n"), std::string::npos)
      << extension.errorOutput();
  EXPECT_EQ(storedScreenActive(), false);
}

TEST_F(BroadcastExtensionTest, RejectsUnknownArguments) {
  for (const char* argument : {"--capture=window", "--frobnicate"}) {
    ChildProcess extension({SORN_BROADCAST, argument}, kNoDisplay);
    EXPECT_EQ(extension.waitForExit(kPatience), 2) << argument;
    EXPECT_NE(extension.errorOutput().find("usage: sorn-broadcast"), std::string::npos);
  }
  EXPECT_EQ(storedScreenActive(), std::nullopt);
}

// The indicator, driven like a user would with xdotool on the test's X display. Its
// window is found by the indicator's process, so windows of other tests never count.
class IndicatorTest : public BroadcastExtensionTest {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr || access("/usr/bin/xdotool", X_OK) != 0) {
      GTEST_SKIP() << "needs an X display and xdotool";
    }
    BroadcastExtensionTest::SetUp();
  }

  static std::string xdotool(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"/usr/bin/xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess tool(argv);
    tool.waitForExit(kPatience);
    return tool.output();
  }

  // The indicator process the running extension started.
  static std::optional<pid_t> indicatorOf(pid_t extension) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    const std::string children =
        "/proc/" + std::to_string(extension) + "/task/" + std::to_string(extension) + "/children";
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream list(children);
      for (pid_t child = 0; list >> child;) {
        std::string name;
        std::getline(std::ifstream("/proc/" + std::to_string(child) + "/comm"), name);
        if (name.starts_with("sorn-broadcast-")) return child;
      }
      std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
  }

  // The process's window of that title, waiting for it to appear when asked to.
  static std::string windowOf(pid_t process, const std::string& title, bool wait) {
    std::vector<std::string> arguments{"search", "--all",          "--pid", std::to_string(process),
                                       "--name", "^" + title + "$"};
    if (wait) arguments.insert(arguments.begin() + 1, "--sync");
    std::string windows = xdotool(arguments);
    return windows.substr(0, windows.find('\n'));
  }

  // Clicks the button of the window (it sits at the bottom) until `done` holds: a
  // window just mapped may not take input yet.
  static bool clickButtonUntil(pid_t process, const std::string& title, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      if (std::string window = windowOf(process, title, false); !window.empty()) {
        std::string geometry = xdotool({"getwindowgeometry", "--shell", window});
        std::smatch match;
        auto value = [&geometry, &match](const std::string& name) {
          return std::regex_search(geometry, match, std::regex(name + "=(-?[0-9]+)")) ? std::stoi(match[1])
                                                                                      : 0;
        };
        const int x = value("X") + value("WIDTH") / 2;
        const int y = value("Y") + value("HEIGHT") - 30;
        xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
      }
      for (int i = 0; i < 20; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
      }
    }
    return false;
  }
};

TEST_F(IndicatorTest, StopInTheIndicatorFinishesTheBroadcast) {
  storeCredentials(kDemoToken);
  ChildProcess extension({SORN_BROADCAST, "--capture=test-pattern", "--stats"});
  auto indicator = indicatorOf(extension.pid());
  ASSERT_TRUE(indicator);
  ASSERT_TRUE(extension.waitForOutputLine([](const std::string& line) { return framesReceivedIn(line) > 0; },
                                          kPatience));
  std::optional<int> status;
  ASSERT_TRUE(clickButtonUntil(*indicator, "Sharing your screen", [&] {
    status = extension.waitForExit(0ms);
    return status.has_value();
  }));
  EXPECT_EQ(status, 0) << extension.errorOutput();
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_FALSE(client().closeScreenSession("scr-1", std::nullopt).ok());
}

TEST_F(IndicatorTest, AnErrorStaysOnScreenAfterTheExtensionEnded) {
  // The open is answered only once the indicator is up, so the test sees its window.
  std::promise<void> indicatorUp;
  std::shared_future<void> answerNow = indicatorUp.get_future().share();
  testsupport::LoopbackHttpServer api([answerNow](const testsupport::RecordedRequest&) {
    answerNow.wait_for(kPatience);
    testsupport::HttpReply reply;
    reply.status = 401;
    reply.body = R"({"message":"Invalid or missing access token."})";
    return reply;
  });
  storeCredentials("tok", api.url("/v1/api"));
  ChildProcess extension({SORN_BROADCAST, "--capture=test-pattern"});
  auto indicator = indicatorOf(extension.pid());
  ASSERT_TRUE(indicator);
  EXPECT_FALSE(windowOf(*indicator, "Sharing your screen", true).empty());
  indicatorUp.set_value();

  EXPECT_EQ(extension.waitForExit(kPatience), 1);
  EXPECT_NE(extension.errorOutput().find("Invalid or missing access token.\n"), std::string::npos);
  // The extension is gone; its indicator shows the error until the user closes it.
  ASSERT_FALSE(windowOf(*indicator, "Screen sharing stopped", true).empty());
  EXPECT_TRUE(clickButtonUntil(*indicator, "Screen sharing stopped", [&] {
    return windowOf(*indicator, "Screen sharing stopped", false).empty();
  }));
}

}  // namespace
}  // namespace broadcast
