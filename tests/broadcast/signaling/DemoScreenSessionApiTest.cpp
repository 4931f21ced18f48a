#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <stdexcept>
#include <string>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"

extern char** environ;

namespace {

using broadcast::ScreenShareSignaling;

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
    FILE* output = fdopen(out[0], "r");
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, output) != nullptr;
    std::fclose(output);
    std::smatch match;
    std::string text = line;
    if (!read || !std::regex_search(text, match, std::regex(R"((http://[^/]+)/)"))) {
      throw std::runtime_error("no URL from the demo service: " + text);
    }
    origin_ = match[1];
  }
  ~DemoService() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  std::string apiBase() const { return origin_ + "/v1/api"; }

 private:
  pid_t pid_ = -1;
  std::string origin_;
};

TEST(DemoScreenSessionApiTest, OpensAndClosesSessionsForTheDashboardsToken) {
  platform::http::installSharedTransport(platform::http::CurlSession::shared());
  DemoService service;
  const ScreenShareSignaling client{service.apiBase(), "demo-token-7f3a", "lounge"};

  auto first = client.openScreenSession("voice-session-1");
  auto second = client.openScreenSession("voice-session-1");
  ASSERT_TRUE(first.ok()) << first.error().description();
  ASSERT_TRUE(second.ok()) << second.error().description();
  EXPECT_NE(first.value(), second.value());

  EXPECT_TRUE(client.closeScreenSession(first.value(), "screen-ios-42").ok());
  EXPECT_TRUE(client.closeScreenSession(second.value(), std::nullopt).ok());

  struct Case {
    std::string what;
    broadcast::Outcome<void> outcome;
    std::int64_t code;
  };
  const ScreenShareSignaling wrongToken{service.apiBase(), "not-the-demo-token", "lounge"};
  const ScreenShareSignaling otherChannel{service.apiBase(), "demo-token-7f3a", "other"};
  auto third = client.openScreenSession("voice-session-1");
  ASSERT_TRUE(third.ok());
  const Case cases[] = {
      {"closed twice", client.closeScreenSession(first.value(), std::nullopt), 404},
      {"never opened", client.closeScreenSession("scr-999", std::nullopt), 404},
      {"another channel's session", otherChannel.closeScreenSession(third.value(), std::nullopt), 404},
      {"wrong token", wrongToken.closeScreenSession(third.value(), std::nullopt), 401},
      {"empty session id", client.closeScreenSession("", std::nullopt), 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.outcome.ok());
    ASSERT_TRUE(std::holds_alternative<broadcast::SignalError>(c.outcome.error().cause)) << c.outcome.error().description();
    const auto& error = std::get<broadcast::SignalError>(c.outcome.error().cause);
    EXPECT_EQ(error.code(), c.code);
    EXPECT_FALSE(error.message().empty());  // the service says why
  }
  auto refused = wrongToken.openScreenSession("voice-session-1");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().description(), "Invalid or missing access token.");
  // The failed attempts left the third session open.
  EXPECT_TRUE(client.closeScreenSession(third.value(), "screen-ios-7").ok());
}

}  // namespace
