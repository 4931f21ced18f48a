// sorn-broadcast end to end: the real program with the test source against the real
// demo service (or a loopback server that answers late), with credentials in a real store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"
#include "platform/suite/Suite.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/Within.h"

extern char** environ;

namespace broadcast {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 30s;
constexpr const char* kDemoToken = "demo-token-7f3a";  // what the demo service hands out and checks
constexpr const char* kDemoChannel = "lounge";

using testsupport::within;

std::string contentsOf(const std::filesystem::path& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

// A program run by a test without a display, its standard output and error written to
// files. Killed and reaped when it goes.
class Child {
 public:
  explicit Child(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"});
    static int made = 0;
    out_ = std::filesystem::temp_directory_path() /
           ("sorn-child-" + std::to_string(getpid()) + "-" + std::to_string(++made));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (out_.string() + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (out_.string() + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (!status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove(out_.string() + ".out");
    std::filesystem::remove(out_.string() + ".err");
  }
  pid_t pid() const { return pid_; }
  std::string output() const { return contentsOf(out_.string() + ".out"); }
  std::string errors() const { return contentsOf(out_.string() + ".err"); }
  // The exit status, once the program ended within the limit (by exit, not a signal).
  std::optional<int> exitStatus(std::chrono::milliseconds limit = kPatience) {
    int status = 0;
    if (!status_ && within(limit, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; }))
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_ && *status_ >= 0 ? status_ : std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  std::filesystem::path out_;
  std::optional<int> status_;
};

std::int64_t lastFramesReceived(const std::string& output) {
  std::smatch match;
  static const std::regex counters("framesReceived=([0-9]+) framesDropped=[0-9]+\n$");
  const std::string last = output.substr(std::min(output.size(), output.rfind("framesReceived=")));
  return std::regex_search(last, match, counters) ? std::stoll(match[1]) : -1;
}

std::optional<bool> storedScreenActive() {
  auto suite = platform::suite::Suite::open(shared::kSuiteName);
  return suite ? suite->boolValue(shared::keys::kScreenActive) : std::nullopt;
}

class BroadcastExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::http::installSharedTransport(platform::http::CurlSession::shared());
    std::smatch port;
    std::string output;
    ASSERT_TRUE(within(kPatience, [&] {
      output = demo.output();
      return std::regex_search(output, port, std::regex("listening on http://127\\.0\\.0\\.1:([0-9]+)"));
    })) << demo.errors();
    apiBase = "http://127.0.0.1:" + port[1].str() + "/v1/api";
  }

  void storeCredentials(const std::string& token, const std::string& base = {}) const {
    auto store = shared::SharedStore::open();
    ASSERT_TRUE(store);
    for (auto [key, value] : {std::pair{shared::keys::kAccessToken, token},
                              {shared::keys::kChannelId, kDemoChannel},
                              {shared::keys::kPrimarySessionId, "voice-session-1"},
                              {shared::keys::kApiBase, base.empty() ? apiBase : base}})
      store->setString(key, value);
    store->setDouble(shared::keys::kCredentialsUpdatedAt, 1700000000.5);
  }

  // How many screen sessions the service handed out: it numbers them from 1, so a probe
  // session tells (and is one more).
  int sessionsHandedOut() const {
    auto probe = ScreenShareSignaling{apiBase, kDemoToken, "probe"}.openScreenSession("probe");
    EXPECT_TRUE(probe.ok());
    return probe.ok() ? std::stoi(probe.value().substr(4)) - 1 : -1;
  }
  bool sessionIsClosed(const std::string& id = "scr-1") const {  // closing it again finds no such session
    auto closeAgain =
        ScreenShareSignaling{apiBase, kDemoToken, kDemoChannel}.closeScreenSession(id, std::nullopt);
    return !closeAgain.ok() && closeAgain.error().signalError() &&
           closeAgain.error().signalError()->code() == 404;
  }

  testsupport::TempDataDir dataDir;
  Child demo{{SORN_DEMO_SERVICE, "--port", "0"}};
  std::string apiBase;
};

TEST_F(BroadcastExtensionTest, OpensTheSessionStreamsFramesAndClosesItOnSigterm) {
  storeCredentials(kDemoToken);
  Child extension({SORN_BROADCAST, "--capture=test-pattern", "--stats"});
  ASSERT_TRUE(within(kPatience, [&] { return lastFramesReceived(extension.output()) > 0; }))
      << extension.output() << extension.errors();
  EXPECT_EQ(storedScreenActive(), true);
  kill(extension.pid(), SIGTERM);
  EXPECT_EQ(extension.exitStatus(), 0) << extension.errors();
  EXPECT_EQ(storedScreenActive(), false);
  EXPECT_GT(lastFramesReceived(extension.output()), 0);
  EXPECT_TRUE(sessionIsClosed());
  EXPECT_EQ(sessionsHandedOut(), 1);  // the extension's was the only one
}

TEST_F(BroadcastExtensionTest, ASessionThatOpensLongAfterStopIsClosedBeforeTheProcessEnds) {
  // The open is answered 4 s after it arrives, well after Stop; the process stays for it.
  std::atomic<bool> openArrived{false};
  testsupport::LoopbackHttpServer service([&](const testsupport::RecordedRequest& request) {
    if (request.target.ends_with("/close")) return testsupport::HttpReply{200, "{}", "application/json", {}};
    openArrived = true;
    std::this_thread::sleep_for(4s);
    return testsupport::HttpReply{200, R"({"screenSessionId":"scr-late"})", "application/json", {}};
  });
  storeCredentials("tok-late", service.url("/v1/api"));
  Child extension({SORN_BROADCAST, "--capture=test-pattern"});
  ASSERT_TRUE(within(kPatience, [&] { return openArrived.load(); })) << extension.errors();
  kill(extension.pid(), SIGTERM);
  EXPECT_EQ(extension.exitStatus(), 0) << extension.errors();
  EXPECT_EQ(storedScreenActive(), false);
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[1].target, "/v1/api/voice/sfu/lounge/screen-session/close");
  EXPECT_EQ(nlohmann::json::parse(requests[1].body)["sessionId"], "scr-late");
}

TEST_F(BroadcastExtensionTest, ASecondBroadcastIsRefusedWhileOneRunsAndNotOnceItIsGone) {
  std::atomic<int> opens{0};
  testsupport::LoopbackHttpServer service([&](const testsupport::RecordedRequest& request) {
    if (!request.target.ends_with("/close")) ++opens;
    return testsupport::HttpReply{200, R"({"screenSessionId":"scr-1"})", "application/json", {}};
  });
  storeCredentials("tok", service.url("/v1/api"));
  Child first({SORN_BROADCAST, "--capture=test-pattern"});
  ASSERT_TRUE(within(kPatience, [&] { return opens == 1; })) << first.errors();

  Child second({SORN_BROADCAST, "--capture=test-pattern"});
  EXPECT_EQ(second.exitStatus(), 1);
  EXPECT_EQ(second.errors(), "A screen broadcast is already running.\n");
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(storedScreenActive(), true);
  EXPECT_EQ(kill(first.pid(), 0), 0);  // the running one goes on

  // Killed outright, the first leaves no lock behind: the next broadcast opens its session.
  kill(first.pid(), SIGKILL);
  EXPECT_FALSE(first.exitStatus());
  Child third({SORN_BROADCAST, "--capture=test-pattern"});
  EXPECT_TRUE(within(kPatience, [&] { return opens == 2; })) << third.errors();
  kill(third.pid(), SIGTERM);
  EXPECT_EQ(third.exitStatus(), 0) << third.errors();
}

TEST_F(BroadcastExtensionTest, EndsWithAnErrorAndNoOpenSession) {
  struct Case {
    const char* token;  // nullptr: no credentials
    const char* argument;
    int status;
    const char* errorText;
    std::optional<bool> screenActive;
  };
  const Case cases[] = {
      {nullptr, "--capture=test-pattern", 1, "Join a Sorn voice channel before sharing your screen.\n",
       false},
      {"not-the-demo-token", "--capture=test-pattern", 1, "Invalid or missing access token.\n", false},
      {nullptr, "--capture=window", 2, "sorn-broadcast: Unknown capture source 'window'", std::nullopt},
      {nullptr, "--frobnicate", 2, "sorn-broadcast: Unknown option --frobnicate", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.errorText);
    testsupport::TempDataDir caseDir;
    if (c.token) storeCredentials(c.token);
    Child extension({SORN_BROADCAST, c.argument});
    EXPECT_EQ(extension.exitStatus(), c.status);
    EXPECT_NE(extension.errors().find(c.errorText), std::string::npos) << extension.errors();
    EXPECT_EQ(storedScreenActive(), c.screenActive);  // finished ran after the error
  }
  EXPECT_EQ(sessionsHandedOut(), 0);
}

TEST_F(BroadcastExtensionTest, WithoutAScreenCastPortalEndsWithAClearErrorAndClosesTheSession) {
  storeCredentials(kDemoToken);
  // A session bus of its own that starts no services: no portal answers on it.
  const auto busConfig = dataDir.root() / "session-bus.conf";
  std::ofstream(busConfig)
      << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
         "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
         "<allow eavesdrop=\"true\"/>"
         "<allow own=\"*\"/></policy></busconfig>";
  // Without a display, auto takes the portal too.
  const char* arguments[] = {"--capture=portal", "--capture=auto"};
  for (const char* argument : arguments) {
    SCOPED_TRACE(argument);
    Child extension(
        {"/usr/bin/dbus-run-session", "--config-file=" + busConfig.string(), "--", SORN_BROADCAST, argument});
    EXPECT_EQ(extension.exitStatus(), 1);
    EXPECT_NE(
        extension.errors().find("Screen sharing needs the desktop's screen-cast portal (xdg-desktop-portal), "
                                "which is not available: "),
        std::string::npos)
        << extension.errors();
    EXPECT_EQ(storedScreenActive(), false);
  }
  EXPECT_TRUE(sessionIsClosed("scr-1"));
  EXPECT_TRUE(sessionIsClosed("scr-2"));
  EXPECT_LE(sessionsHandedOut(), 2);
}

}  // namespace
}  // namespace broadcast
