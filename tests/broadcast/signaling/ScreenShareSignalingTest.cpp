#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"
#include "tests/platform/http/HttpTestSupport.h"

namespace {

using broadcast::ScreenShareSignaling;
using platform::http::CurlSession;
using platform::http::HttpRequest;
using platform::http::HttpResult;
using platform::http::installSharedTransport;
using platform::http::TransportError;
using testsupport::answer;
using testsupport::RecordedRequest;

// Sends through the real session to a loopback server, as the shared transport that
// notes the last request and, for replies libcurl never hands over (status 0, not an HTTP
// reply; a final 1xx, which libcurl takes as interim), answers in its place.
class ScreenShareSignalingTest : public ::testing::Test, public platform::http::HttpTransport {
 protected:
  void SetUp() override { installSharedTransport(*this); }
  void TearDown() override { installSharedTransport(CurlSession::shared()); }
  HttpResult post(const HttpRequest& request) override {
    lastTimeout = request.timeout;
    if (canned) return *canned;
    HttpRequest shortened = request;  // no test waits for a minute
    shortened.timeout = std::chrono::milliseconds(300);
    return CurlSession::shared().post(shortened);
  }

  void answerWith(int status, const std::string& body) {
    server.setHandler([reply = answer(status, body)](const RecordedRequest&) { return reply; });
  }
  ScreenShareSignaling client(const std::string& base = "/v1/api", const std::string& token = "tok-123",
                              const std::string& channel = "lounge") const {
    return {server.url(base), token, channel};
  }

  std::optional<platform::http::HttpResponse> canned;
  std::chrono::milliseconds lastTimeout{0};
  testsupport::LoopbackHttpServer server{
      [](const RecordedRequest&) { return answer(200, R"({"screenSessionId":"s"})"); }};
};

TEST_F(ScreenShareSignalingTest, RequestsHaveTheExactForm) {
  const auto open = [](const ScreenShareSignaling& s) {
    return [s] { static_cast<void>(s.openScreenSession("v-1")); };
  };
  const auto close = [this](std::optional<std::string> track) {
    return [s = client(), track] { static_cast<void>(s.closeScreenSession("scr-9", track)); };
  };
  const std::string path = "/v1/api/voice/sfu/lounge/screen-session", bearer = "Bearer tok-123";
  const nlohmann::json voice = {{"sessionId", "v-1"}}, screen = {{"sessionId", "scr-9"}};
  const std::vector<std::tuple<std::function<void()>, std::string, std::string, nlohmann::json>> cases = {
      {open(client()), path, bearer, voice},
      {open(client("/v1/api/")), "/v1/api//voice/sfu/lounge/screen-session", bearer, voice},
      {open(client("/v1/api", " a  b")), path, "Bearer  a  b", voice},  // token verbatim
      {close(std::nullopt), path + "/close", bearer, screen},
      {close(""), path + "/close", bearer, {{"sessionId", "scr-9"}, {"trackName", ""}}},
      {close("screen-ios-7"),
       path + "/close",
       bearer,
       {{"sessionId", "scr-9"}, {"trackName", "screen-ios-7"}}},
  };
  std::size_t sentSoFar = 0;
  for (const auto& [call, target, authorization, body] : cases) {
    call();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), ++sentSoFar);
    const auto& sent = requests.back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.target, target);
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    EXPECT_EQ(sent.header("Authorization"), authorization);
    EXPECT_EQ(sent.body, body.dump());  // compact JSON
    EXPECT_EQ(lastTimeout, std::chrono::seconds(60));
  }
}

TEST_F(ScreenShareSignalingTest, TheChannelIdTravelsAsOnePathSegment) {
  // RFC 3986 path characters (and well-formed escapes) pass unchanged, so ordinary ids
  // give the same requests as ever; everything else is escaped, and dot segments too.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"lounge", "lounge"},
      {"AZaz09-._~!$&'()*+,;=:@", "AZaz09-._~!$&'()*+,;=:@"},
      {"a%2Fb", "a%2Fb"},
      {"...", "..."},
      {".", "%2E"},
      {"..", "%2E%2E"},
      {"../../../../evil?x=1#", "..%2F..%2F..%2F..%2Fevil%3Fx=1%23"},
      {"a/b", "a%2Fb"},
      {"a\\b", "a%5Cb"},
      {"a b\t\"<>{}|^`", "a%20b%09%22%3C%3E%7B%7D%7C%5E%60"},
      {"100%", "100%25"},
      {"%zz%4", "%25zz%254"},
      {"[::1]", "%5B::1%5D"},
      {std::string("n\0ul", 4), "n%00ul"},
      {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
  };
  for (const auto& [channel, segment] : cases) {
    SCOPED_TRACE(channel);
    const std::string path = "/v1/api/voice/sfu/" + segment + "/screen-session";
    ASSERT_TRUE(client("/v1/api", "tok", channel).openScreenSession("v-1").ok());
    ASSERT_TRUE(client("/v1/api", "tok", channel).closeScreenSession("scr-9", std::nullopt).ok());
    const auto requests = server.requests();
    ASSERT_GE(requests.size(), 2U);
    EXPECT_EQ(requests[requests.size() - 2].target, path);
    EXPECT_EQ(requests.back().target, path + "/close");
  }
}

TEST_F(ScreenShareSignalingTest, OpenRepliesBecomeAnIdOrAnError) {
  const std::string noId = "Unexpected response: no screenSessionId";
  // The session id, or the description of the error (which also tells its kind).
  const std::vector<std::tuple<std::int64_t, std::string, bool, std::string>> cases = {
      {200, R"({"screenSessionId":"scr-1"})", true, "scr-1"},
      {201, R"({"screenSessionId":"scr-2","region":"eu","n":[1,2]})", true, "scr-2"},
      {299, R"({"screenSessionId":"scr-3"})", true, "scr-3"},
      {199, R"({"screenSessionId":"scr-1"})", false, "Request failed (199)"},
      {0, "", false, "Request failed (0)"},
      {0, R"({"message":"gateway said no"})", false, "gateway said no"},
      {300, R"({"screenSessionId":"scr-4"})", false, "Request failed (300)"},
      {500, "", false, "Request failed (500)"},
      {403, R"({"message":"Not in this channel"})", false, "Not in this channel"},
      {403, R"({"message":" "})", false, " "},
      {404, R"({"message":7})", false, "Request failed (404)"},
      {503, "<html>busy</html>", false, "Request failed (503)"},
      {400, R"(["message"])", false, "Request failed (400)"},
      {200, "", false, noId},
      {200, "not json", false, noId},
      {200, R"([{"screenSessionId":"scr-5"}])", false, noId},
      {200, R"({"screenSessionId":""})", false, noId},
      {200, R"({"screenSessionId":5})", false, noId},
      {200, R"({"screenSessionId":null})", false, noId},
  };
  for (const auto& [status, body, ok, text] : cases) {
    SCOPED_TRACE(std::to_string(status) + " " + body);
    canned.reset();
    if (status < 200) canned = platform::http::HttpResponse{status, body};
    answerWith(static_cast<int>(status), body);
    const auto outcome = client().openScreenSession("v-1");
    ASSERT_EQ(outcome.ok(), ok) << (ok ? outcome.error().description() : outcome.value());
    if (ok) {
      EXPECT_EQ(outcome.value(), text);
      continue;
    }
    const auto* error = outcome.error().signalError();
    ASSERT_NE(error, nullptr) << outcome.error().description();
    EXPECT_EQ(error->errorDescription(), text);
    EXPECT_EQ(outcome.error().description(), text);
    if (error->kind() == broadcast::SignalError::Kind::http) {
      EXPECT_EQ(error->code(), status);
    }
  }
}

TEST_F(ScreenShareSignalingTest, CloseIgnoresTheReplyBodyButNotTheStatus) {
  for (std::string body : {"", "not json", "[1]", R"({"x":1})"}) {
    answerWith(200, body);
    EXPECT_TRUE(client().closeScreenSession("scr-9", "screen-ios-1").ok()) << body;
  }
  answerWith(410, R"({"message":"Already closed"})");
  const auto failed = client().closeScreenSession("scr-9", std::nullopt);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().description(), "Already closed");
}

TEST_F(ScreenShareSignalingTest, PostJsonGivesTheReplyObjectOrAnEmptyOne) {
  // The last is nested as deep as the 1 MiB cap allows: dropped without exhausting the stack.
  for (const std::string& body :
       {std::string(R"({"a":[1,{"b":null}]})"), std::string(), std::string("{"), std::string("[1,2]"),
        std::string("\"text\""), std::string(1 << 19, '[') + std::string(1 << 19, ']')}) {
    answerWith(200, body);
    const auto outcome = client().postJSON("/any", {{"k", "v"}});
    ASSERT_TRUE(outcome.ok()) << body.substr(0, 40);
    const nlohmann::json object = {{"a", {1, {{"b", nullptr}}}}};
    EXPECT_EQ(outcome.value(), body.starts_with("{\"") ? object : nlohmann::json::object())
        << body.substr(0, 40);
  }
}

TEST_F(ScreenShareSignalingTest, RequestsThatCannotBeSentSafelyFailBeforeSending) {
  using Kind = TransportError::Kind;
  const std::vector<std::tuple<ScreenShareSignaling, std::string, Kind>> cases = {
      {{"http://api.example.com/v1/api", "tok", "lounge"}, "v", Kind::insecure},
      {client("/v1 api"), "v", Kind::invalidRequest},  // an API base that breaks the URL
      {client(), "\xff\xfe", Kind::invalidRequest},    // not UTF-8: cannot be JSON
  };
  for (const auto& [signaling, voiceSessionId, kind] : cases) {
    SCOPED_TRACE(signaling.apiBase + " " + signaling.channelId);
    const auto outcome = signaling.openScreenSession(voiceSessionId);
    ASSERT_FALSE(outcome.ok());
    const auto* transport = std::get_if<TransportError>(&outcome.error().cause);
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(transport->kind, kind);
    EXPECT_FALSE(transport->description.empty());
    EXPECT_EQ(outcome.error().description(), transport->description);
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(ScreenShareSignalingTest, AServerThatNeverAnswersEndsInATimeOut) {
  server.setHandler([](const RecordedRequest&) {  // answers long after the client gave up
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return answer(200, R"({"screenSessionId":"late"})");
  });
  const auto outcome = client().openScreenSession("v-1");
  ASSERT_FALSE(outcome.ok());
  const auto* error = std::get_if<TransportError>(&outcome.error().cause);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->kind, TransportError::Kind::timedOut);
  EXPECT_EQ(outcome.error().description(), "The request timed out.");
}

}  // namespace
