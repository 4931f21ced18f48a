#include "broadcast/signaling/ScreenShareSignaling.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/CurlSession.h"
#include "tests/platform/http/HttpTestSupport.h"

namespace {

using broadcast::RequestError;
using broadcast::ScreenShareSignaling;
using broadcast::SignalError;
using platform::http::CurlSession;
using platform::http::HttpRequest;
using platform::http::HttpResult;
using platform::http::TransportError;
using testsupport::answer;
using testsupport::HttpReply;
using testsupport::LoopbackHttpServer;
using testsupport::RecordedRequest;

// Sends through a transport of the test's for one test, then puts the real session back.
class TransportOverride {
 public:
  explicit TransportOverride(platform::http::HttpTransport& transport) { platform::http::installSharedTransport(transport); }
  ~TransportOverride() { platform::http::installSharedTransport(CurlSession::shared()); }
  TransportOverride(const TransportOverride&) = delete;
  TransportOverride& operator=(const TransportOverride&) = delete;
};

class ScreenShareSignalingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::http::installSharedTransport(CurlSession::shared());
    testsupport::waitUntilServing(server);
  }

  void answerWith(int status, std::string body) {
    std::lock_guard lock(replyMutex_);
    reply_ = answer(status, std::move(body));
  }
  ScreenShareSignaling client(const std::string& base = "/v1/api") const {
    return {server.url(base), "tok-123", "lounge"};
  }

 private:
  std::mutex replyMutex_;
  HttpReply reply_ = answer(200, R"({"screenSessionId":"scr-9"})");

 protected:
  // Declared last, so its threads stop before the reply they read goes away.
  LoopbackHttpServer server{[this](const RecordedRequest&) {
    std::lock_guard lock(replyMutex_);
    return reply_;
  }};
};

TEST_F(ScreenShareSignalingTest, RequestsHaveTheExactForm) {
  struct Case {
    std::string what;
    ScreenShareSignaling signaling;
    std::function<void(const ScreenShareSignaling&)> call;
    std::string target;
    std::string authorization;
    nlohmann::json body;
  };
  const auto open = [](const ScreenShareSignaling& s) { static_cast<void>(s.openScreenSession("voice-1")); };
  const auto closeWith = [](std::optional<std::string> track) {
    return [track](const ScreenShareSignaling& s) { static_cast<void>(s.closeScreenSession("scr-9", track)); };
  };
  const std::vector<Case> cases = {
      {"open", client(), open, "/v1/api/voice/sfu/lounge/screen-session", "Bearer tok-123", {{"sessionId", "voice-1"}}},
      {"open, base ending in a slash", client("/v1/api/"), open, "/v1/api//voice/sfu/lounge/screen-session",
       "Bearer tok-123", {{"sessionId", "voice-1"}}},
      {"token with blanks, sent verbatim", {server.url("/v1/api"), " a  b", "lounge"}, open,
       "/v1/api/voice/sfu/lounge/screen-session", "Bearer  a  b", {{"sessionId", "voice-1"}}},
      {"channel inserted unescaped", {server.url("/v1/api"), "tok-123", "a%2Fb"}, open,
       "/v1/api/voice/sfu/a%2Fb/screen-session", "Bearer tok-123", {{"sessionId", "voice-1"}}},
      {"close without track name", client(), closeWith(std::nullopt), "/v1/api/voice/sfu/lounge/screen-session/close",
       "Bearer tok-123", {{"sessionId", "scr-9"}}},
      {"close with empty track name", client(), closeWith(""), "/v1/api/voice/sfu/lounge/screen-session/close",
       "Bearer tok-123", {{"sessionId", "scr-9"}, {"trackName", ""}}},
      {"close with track name", client(), closeWith("screen-ios-4294967295"),
       "/v1/api/voice/sfu/lounge/screen-session/close", "Bearer tok-123",
       {{"sessionId", "scr-9"}, {"trackName", "screen-ios-4294967295"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = server.requests().size();
    c.call(c.signaling);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), before + 1);
    const auto& sent = requests.back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.target, c.target);
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    EXPECT_EQ(sent.header("Authorization"), c.authorization);
    EXPECT_EQ(sent.body, c.body.dump());  // compact JSON
    EXPECT_EQ(nlohmann::json::parse(sent.body), c.body);
  }
}

TEST_F(ScreenShareSignalingTest, OpenRepliesBecomeAnIdOrAnError) {
  struct Case {
    int status;
    std::string body;
    std::optional<std::string> id;  // or the error below
    SignalError::Kind kind;
    std::int64_t code;
    std::string message;
    std::string description;
  };
  using Kind = SignalError::Kind;
  const std::vector<Case> cases = {
      {200, R"({"screenSessionId":"scr-1"})", "scr-1", Kind::http, 0, "", ""},
      {201, R"({"screenSessionId":"scr-2","region":"eu","n":[1,2]})", "scr-2", Kind::http, 0, "", ""},
      {299, R"({"screenSessionId":"scr-3"})", "scr-3", Kind::http, 0, "", ""},
      {300, R"({"screenSessionId":"scr-4"})", std::nullopt, Kind::http, 300, "", "Request failed (300)"},
      {500, "", std::nullopt, Kind::http, 500, "", "Request failed (500)"},
      {403, R"({"message":"Not in this channel"})", std::nullopt, Kind::http, 403, "Not in this channel",
       "Not in this channel"},
      {404, R"({"message":7})", std::nullopt, Kind::http, 404, "", "Request failed (404)"},
      {503, "<html>busy</html>", std::nullopt, Kind::http, 503, "", "Request failed (503)"},
      {400, R"(["message"])", std::nullopt, Kind::http, 400, "", "Request failed (400)"},
      {200, "", std::nullopt, Kind::malformed, 0, "", "Unexpected response: no screenSessionId"},
      {200, "not json", std::nullopt, Kind::malformed, 0, "", "Unexpected response: no screenSessionId"},
      {200, R"([{"screenSessionId":"scr-5"}])", std::nullopt, Kind::malformed, 0, "",
       "Unexpected response: no screenSessionId"},
      {200, R"({"screenSessionId":""})", std::nullopt, Kind::malformed, 0, "", "Unexpected response: no screenSessionId"},
      {200, R"({"screenSessionId":5})", std::nullopt, Kind::malformed, 0, "", "Unexpected response: no screenSessionId"},
      {200, R"({"screenSessionId":null})", std::nullopt, Kind::malformed, 0, "",
       "Unexpected response: no screenSessionId"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    answerWith(c.status, c.body);
    auto outcome = client().openScreenSession("voice-1");
    if (c.id) {
      ASSERT_TRUE(outcome.ok()) << outcome.error().description();
      EXPECT_EQ(outcome.value(), *c.id);
      continue;
    }
    ASSERT_FALSE(outcome.ok());
    ASSERT_TRUE(std::holds_alternative<SignalError>(outcome.error().cause)) << outcome.error().description();
    const auto& error = std::get<SignalError>(outcome.error().cause);
    EXPECT_EQ(error.kind(), c.kind);
    EXPECT_EQ(error.code(), c.code);
    EXPECT_EQ(error.message(), c.message);
    EXPECT_EQ(error.text(), c.kind == Kind::malformed ? "no screenSessionId" : "");
    EXPECT_EQ(error.errorDescription(), c.description);
    EXPECT_EQ(outcome.error().description(), c.description);
  }
}

TEST_F(ScreenShareSignalingTest, CloseIgnoresTheReplyBodyButNotTheStatus) {
  for (std::string body : {"", "not json", "[1]", R"({"x":1})"}) {
    answerWith(200, body);
    EXPECT_TRUE(client().closeScreenSession("scr-9", "screen-ios-1").ok()) << body;
  }
  answerWith(410, R"({"message":"Already closed"})");
  auto failed = client().closeScreenSession("scr-9", std::nullopt);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().description(), "Already closed");
}

TEST_F(ScreenShareSignalingTest, PostJsonGivesTheReplyObjectOrAnEmptyOne) {
  struct Case {
    std::string body;
    nlohmann::json expected;
  };
  const std::vector<Case> cases = {
      {R"({"a":[1,{"b":null}]})", {{"a", {1, {{"b", nullptr}}}}}},
      {"", nlohmann::json::object()},
      {"{", nlohmann::json::object()},
      {"[1,2]", nlohmann::json::object()},
      {"\"text\"", nlohmann::json::object()},
      // Nested as deep as the 1 MiB cap allows: parsed and dropped without exhausting the stack.
      {std::string(1 << 19, '[') + std::string(1 << 19, ']'), nlohmann::json::object()},
  };
  for (const auto& c : cases) {
    answerWith(200, c.body);
    auto outcome = client().postJSON("/any", {{"k", "v"}});
    ASSERT_TRUE(outcome.ok()) << c.body.substr(0, 40);
    EXPECT_EQ(outcome.value(), c.expected) << c.body.substr(0, 40);
  }
}

TEST_F(ScreenShareSignalingTest, RequestsThatCannotBeSentSafelyFailBeforeSending) {
  struct Case {
    std::string what;
    ScreenShareSignaling signaling;
    std::string primarySessionId;
    TransportError::Kind kind;
  };
  const std::vector<Case> cases = {
      {"plain http off loopback", {"http://api.example.com/v1/api", "tok", "lounge"}, "v", TransportError::Kind::insecure},
      {"not a URL", {"api.example.com/v1/api", "tok", "lounge"}, "v", TransportError::Kind::invalidRequest},
      {"channel that breaks the URL", {server.url("/v1/api"), "tok", "a b"}, "v", TransportError::Kind::invalidRequest},
      {"token that would split the request", {server.url("/v1/api"), "tok\r\nX: y", "lounge"}, "v",
       TransportError::Kind::invalidRequest},
      {"session id that is not UTF-8", {server.url("/v1/api"), "tok", "lounge"}, "\xff\xfe",
       TransportError::Kind::invalidRequest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto outcome = c.signaling.openScreenSession(c.primarySessionId);
    ASSERT_FALSE(outcome.ok());
    const auto* transport = std::get_if<TransportError>(&outcome.error().cause);
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(transport->kind, c.kind);
    EXPECT_EQ(outcome.error().description(), transport->description);
    EXPECT_FALSE(transport->description.empty());
  }
  EXPECT_TRUE(server.requests().empty());
}

// Forwards to the real session with a short time-out, after checking that the client
// asked for the full 60 s.
class ShortTimeout final : public platform::http::HttpTransport {
 public:
  HttpResult post(const HttpRequest& request) override {
    requestedTimeout = request.timeout;
    HttpRequest shortened = request;
    shortened.timeout = std::chrono::milliseconds(300);
    return CurlSession::shared().post(shortened);
  }
  std::chrono::milliseconds requestedTimeout{0};
};

TEST_F(ScreenShareSignalingTest, AServerThatNeverAnswersEndsInATimeOut) {
  testsupport::SilentListener silent;
  ShortTimeout transport;
  TransportOverride override(transport);
  auto outcome = ScreenShareSignaling{silent.url("/v1/api"), "tok", "lounge"}.openScreenSession("voice-1");
  EXPECT_EQ(transport.requestedTimeout, std::chrono::seconds(60));
  ASSERT_FALSE(outcome.ok());
  const auto* error = std::get_if<TransportError>(&outcome.error().cause);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->kind, TransportError::Kind::timedOut);
  EXPECT_EQ(outcome.error().description(), "The request timed out.");
}

// Replies libcurl never hands over: one that is not an HTTP reply (status 0; libcurl
// speaks only http and https here) and a final 1xx status (libcurl takes 1xx as interim
// and fails on what follows). A transport standing in for one checks they are read
// like any other status outside 200 to 299.
class CannedReply final : public platform::http::HttpTransport {
 public:
  HttpResult post(const HttpRequest&) override { return response; }
  platform::http::HttpResponse response;
};

TEST_F(ScreenShareSignalingTest, StatusZeroAndInterimStatusesAreErrors) {
  CannedReply transport;
  TransportOverride override(transport);
  struct Case {
    std::int64_t status;
    std::string body;
    std::string description;
  };
  const std::vector<Case> cases = {
      {0, "", "Request failed (0)"},
      {0, R"({"message":"gateway said no"})", "gateway said no"},
      {199, R"({"screenSessionId":"scr-1"})", "Request failed (199)"},
  };
  for (const auto& c : cases) {
    transport.response = {c.status, c.body};
    auto outcome = client().openScreenSession("voice-1");
    ASSERT_FALSE(outcome.ok());
    ASSERT_TRUE(std::holds_alternative<SignalError>(outcome.error().cause));
    EXPECT_EQ(std::get<SignalError>(outcome.error().cause).code(), c.status);
    EXPECT_EQ(outcome.error().description(), c.description);
  }
}

TEST(SignalErrorTest, DescriptionsAreTheUserVisibleTexts) {
  struct Case {
    SignalError error;
    std::string description;
  };
  const std::vector<Case> cases = {
      {SignalError::http(503, ""), "Request failed (503)"},
      {SignalError::http(0, ""), "Request failed (0)"},
      {SignalError::http(-1, ""), "Request failed (-1)"},
      {SignalError::http(403, "You left the channel"), "You left the channel"},
      {SignalError::http(403, " "), " "},
      {SignalError::malformed("no screenSessionId"), "Unexpected response: no screenSessionId"},
      {SignalError::malformed(""), "Unexpected response: "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.errorDescription(), c.description);
    EXPECT_EQ(RequestError{c.error}.description(), c.description);
  }
}

}  // namespace
