// The demo service's dashboard page in the real SornWebView: what it shows and what its
// buttons and links do in the app.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/app/RecordingServices.h"
#include "tests/app/WebViewHarness.h"
#include "tests/support/TempDataDir.h"

extern char** environ;

namespace {

using apptest::RecordingServices;
using apptest::WebViewHarness;
using Events = std::vector<std::string>;

// The real demo service on a free loopback port, for one test.
class DemoService {
 public:
  DemoService() {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = SORN_DEMO_SERVICE;
    char* argv[] = {program.data(), const_cast<char*>("--port"), const_cast<char*>("0"), nullptr};
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) throw std::runtime_error("cannot start " + program);
    // "sorn-demo-service: listening on http://127.0.0.1:PORT/sorn/dashboard"
    FILE* stream = fdopen(out[0], "r");
    char line[256] = {};
    if (stream == nullptr || std::fgets(line, sizeof line, stream) == nullptr) throw std::runtime_error("no port");
    std::fclose(stream);
    const std::string text = line;
    const auto start = text.find("http://");
    const auto end = text.find("/sorn/dashboard");
    origin_ = text.substr(start, end - start);
    port_ = std::stoi(origin_.substr(origin_.rfind(':') + 1));
  }
  ~DemoService() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  const std::string& origin() const { return origin_; }
  int port() const { return port_; }

 private:
  pid_t pid_ = 0;
  std::string origin_;
  int port_ = 0;
};

bool contains(const Events& log, const std::string& event) {
  return std::find(log.begin(), log.end(), event) != log.end();
}

TEST(DemoDashboard, ShowsWhatTheAppPutInPlaceAndItsButtonsAndLinksReachTheApp) {
  testsupport::TempDataDir dataDir;
  DemoService service;
  RecordingServices recorder;
  const std::string dashboard = service.origin() + "/sorn/dashboard";
  WebViewHarness harness(dashboard, recorder.services(), "127.0.0.1");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return harness.finishedLoads() >= 1; }));

  auto text = [&](const std::string& id) {
    return nlohmann::json::parse(harness.evaluate("document.getElementById('" + id + "').textContent"));
  };
  EXPECT_EQ(nlohmann::json::parse(text("marker").get<std::string>()),
            (nlohmann::json{{"platform", "ios"}, {"version", 1}}));
  EXPECT_EQ(text("handler"), "window.webkit.messageHandlers.sorn");
  EXPECT_TRUE(text("userAgent").get<std::string>().ends_with("SorniOS/1.0"));
  RecordProperty("webrtc", text("webrtc").get<std::string>());

  // The credentials come from the service's state once the page has polled it.
  ASSERT_EQ(harness.waitFor("document.getElementById('token').value", R"("demo-token-7f3a")"),
            R"("demo-token-7f3a")");
  harness.evaluate("document.getElementById('sendVoiceJoined').click(); true");
  harness.evaluate("document.getElementById('sendStats').click(); true");
  harness.evaluate("document.getElementById('sendStartScreenShare').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return contains(recorder.log, "startBroadcast"); }));
  EXPECT_EQ(recorder.log, (Events{"reload", "startBroadcast"}));
  const auto store = *shared::SharedStore::open();
  namespace keys = shared::keys;
  EXPECT_EQ(store.string(keys::kAccessToken), "demo-token-7f3a");
  EXPECT_EQ(store.string(keys::kChannelId), "lounge");
  EXPECT_EQ(store.string(keys::kPrimarySessionId), "voice-session-1");
  EXPECT_EQ(store.string(keys::kApiBase), service.origin() + "/v1/api");
  EXPECT_EQ(store.integer(keys::kVoiceSeconds), 5400);
  EXPECT_EQ(store.string(keys::kUsername), "demo");

  // Edited values and a left-out field, as a person would try them.
  harness.evaluate(
      "const f = document.getElementById('sendStats').closest('fieldset').querySelectorAll('label');"
      "f[0].children[2].value = '12.5'; f[3].children[0].checked = false;"
      "document.getElementById('sendStats').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return recorder.log.size() >= 3; }));
  EXPECT_EQ(store.integer(keys::kVoiceSeconds), 0);
  EXPECT_EQ(store.string(keys::kUsername), "");
  harness.evaluate("document.getElementById('sendVoiceLeft').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return !store.string(keys::kAccessToken).has_value(); }));

  // A message queued on the service is posted by the page.
  httplib::Client client("127.0.0.1", service.port());
  ASSERT_TRUE(client.Post("/demo/page-actions", R"({"type":"startScreenShare","queued":true})", "application/json"));
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return recorder.log.size() >= 4; }));
  EXPECT_EQ(recorder.log.back(), "startBroadcast");

  harness.evaluate("document.getElementById('linkOutside').click(); true");
  harness.evaluate("document.getElementById('blankOutside').click(); true");
  ASSERT_TRUE(WebViewHarness::spinUntil([&] { return recorder.log.size() >= 6; }));
  EXPECT_EQ(recorder.log[4], "open https://example.org/");
  EXPECT_EQ(recorder.log[5], "open https://example.org/?from=new-window");
  harness.evaluate("document.getElementById('blankInside').click(); true");
  EXPECT_TRUE(WebViewHarness::spinUntil([&] { return harness.uri() == dashboard + "?from=new-window"; }))
      << harness.uri();
}

}  // namespace
