// The REST client stack against a real loopback server: the libcurl session's own rules,
// then the client through it, the server answering as each case says: well, badly or with
// hostile intent.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"
#include "tests/support/LoopbackHttpServer.h"

namespace {

using broadcast::ScreenShareSignaling;
using platform::http::CurlSession;
using platform::http::HttpResponse;
using platform::http::HttpResult;
using platform::http::TransportError;
using testsupport::HttpReply;
using Kind = TransportError::Kind;
using namespace std::chrono_literals;
using Headers = std::vector<std::pair<std::string, std::string>>;

HttpResult post(const std::string& url, Headers headers = {{"Authorization", "Bearer t"}},
                std::string body = "{}") {
  return CurlSession::shared().post({url, std::move(headers), std::move(body)});
}

std::optional<Kind> failureKind(const HttpResult& result) {
  if (const auto* error = std::get_if<TransportError>(&result)) return error->kind;
  return std::nullopt;
}

// At /N answers N bytes, elsewhere the method, the two headers the client sends and the body.
HttpReply echo(const testsupport::RecordedRequest& request) {
  if (std::isdigit(request.target.back()) != 0)
    return {200, std::string(std::stoul(request.target.substr(1)), 'x')};
  return {200, request.method + " " + request.get_header_value("Content-Type") + " " +
                   request.get_header_value("Authorization") + " " + request.body};
}

TEST(CurlSessionTest, RefusesWhatItMustNotSendCutsRepliesOffAtTheCapAndServesThreadsAtOnce) {
  const testsupport::LoopbackHttpServer server(echo);
  // Plain http must never go through a proxy; none listens at this one.
  setenv("http_proxy", "http://127.0.0.1:9", 1);
  const std::string port = server.url().substr(17);  // after "http://127.0.0.1:"
  const std::string cap = std::to_string(CurlSession::kMaxReplyBytes);
  const std::vector<std::pair<std::optional<Kind>, std::vector<std::string>>> cases = {
      {Kind::invalidRequest,  // no scheme guessing, no other schemes
       {"", "not a url", "127.0.0.1:PORT/x", "http://127.0.0.1:PORT/a b", "ftp://127.0.0.1:PORT/x",
        "file:///etc/passwd"}},
      {Kind::insecure,
       {"http://api.example.com/v1/api", "http://10.1.2.3:PORT/x", "http://127.0.0.1.example.com:PORT/x",
        "http://localhost.example.com:PORT/x", "http://[::ffff:127.0.0.1]:PORT/x", "HTTP://example.com/x"}},
      {std::nullopt,  // answered
       {"http://127.0.0.1:PORT/x", "http://localhost:PORT/x", "http://LocalHost:PORT/x",
        "http://127.1:PORT/x", "HTTP://127.0.0.1:PORT/x", "http://127.0.0.1:PORT/" + cap}},
      {Kind::replyTooLarge, {"http://127.0.0.1:PORT/" + cap + "1", "http://127.0.0.1:PORT/" + cap + "0"}},
      // Allowed, but nothing listens there, or not with TLS.
      {Kind::failed, {"http://127.9.9.9:PORT/x", "http://[::1]:PORT/x", "https://127.0.0.1:PORT/x"}},
  };
  std::size_t sent = 0;
  for (const auto& [failure, urls] : cases) {
    for (std::string url : urls) {
      if (const auto at = url.find("PORT"); at != std::string::npos) url.replace(at, 4, port);
      const auto result = post(url);
      EXPECT_EQ(failureKind(result), failure) << url;
      sent += !failure || failure == Kind::replyTooLarge;
      EXPECT_TRUE(!failure || !std::get<TransportError>(result).description.empty()) << url;
    }
  }
  unsetenv("http_proxy");
  // Headers that libcurl would drop, split or end early.
  for (const auto& header : Headers{{"Authorization", "Bearer a\r\nX-Injected: 1"},
                                    {"Authorization", "Bearer a\nb"},
                                    {"Authorization", std::string("Bearer a\0b", 10)},
                                    {"X-Injected: 1\r\nAuthorization", "Bearer a"},
                                    {"X-Empty", ""},
                                    {"", "value"}}) {
    EXPECT_EQ(failureKind(post(server.url("/x"), {{"Content-Type", "application/json"}, header})),
              Kind::invalidRequest)
        << header.first;
  }
  // Nothing refused reached the server (the TLS attempt sent nothing it took as HTTP).
  EXPECT_EQ(server.requests().size(), sent);

  // Threads sharing the session (open and close tasks overlap) each get their own reply,
  // over connections kept alive between requests; path and headers go as they are.
  constexpr int kThreads = 6, kRequestsPerThread = 20;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::jthread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        const std::string body = "{\"n\":\"" + std::to_string(t) + "-" + std::to_string(i) + "\"}";
        const auto result =
            post(server.url("/a//e"),
                 {{"Content-Type", "application/json"}, {"Authorization", "Bearer  a  b"}}, body);
        const auto* reply = std::get_if<HttpResponse>(&result);
        mismatches[t] += reply == nullptr || reply->status != 200 ||
                         reply->body != "POST application/json Bearer  a  b " + body;
      }
    });
  }
  workers.clear();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
  std::set<std::string> connections;
  for (const auto& request : server.requests())
    if (request.target == "/a//e") connections.insert(request.get_header_value("REMOTE_PORT"));
  EXPECT_EQ(server.requests().size(), sent + kThreads * kRequestsPerThread);
  EXPECT_LE(connections.size(), std::size_t{kThreads});
}

// The shared transport: the real session, with a time-out short enough that no test
// waits for a minute.
class ScreenShareSignalingTest : public ::testing::Test, public platform::http::HttpTransport {
 protected:
  void SetUp() override { installSharedTransport(*this); }
  void TearDown() override { installSharedTransport(CurlSession::shared()); }
  HttpResult post(const platform::http::HttpRequest& request) override {
    auto shortened = request;
    shortened.timeout = std::chrono::milliseconds(500);
    return CurlSession::shared().post(shortened);
  }

  // What an open gives: the session id, or the error behind the kind of a transport's failure.
  std::string open() const {
    static constexpr const char* kKinds[] = {"invalidRequest", "insecure", "replyTooLarge", "timedOut",
                                             "failed"};
    const auto outcome =
        ScreenShareSignaling{server.url("/v1/api"), "tok", "lounge"}.openScreenSession("v-1");
    if (outcome.ok()) return "id " + outcome.value();
    const auto* failure = std::get_if<TransportError>(&outcome.error().cause);
    return (failure ? kKinds[static_cast<int>(failure->kind)] + std::string(": ") : "") +
           outcome.error().description();
  }

  testsupport::LoopbackHttpServer server{nullptr};
};

// What each status and body becomes is the reply fuzzer's (its seeds and invariants);
// here, what only a server on the wire shows: a redirect not followed, a body that
// cannot be sent, servers that drip, stop short, flood or nest deeply.
TEST_F(ScreenShareSignalingTest, HostileRepliesBecomeAnIdOrAClearError) {
  const std::string deep = R"({"x":)" + std::string(300'000, '[') + std::string(300'000, ']');
  // What the server answers to an open; its outcome.
  const std::vector<std::pair<HttpReply, std::string>> cases = {
      {HttpReply{302, R"({"screenSessionId":"scr-4"})", "application/json", {{"Location", "/v1/api/x"}}},
       "Request failed (302)"},
      // A flood is cut off at the cap, not read whole.
      {HttpReply{.piece = "{", .pieces = 100, .pause = 40ms}, "timedOut: The request timed out."},
      {HttpReply{.piece = R"({"screenSess)", .pieces = 1},
       "failed: The request failed: transfer closed with outstanding read data remaining"},
      {HttpReply{.piece = std::string(0x10000, ' '), .pieces = 1600},
       "replyTooLarge: The server's reply is larger than 1 MiB."},
      {HttpReply{200, deep + "}"}, "Unexpected response: no screenSessionId"},
      {HttpReply{422, deep + R"(,"message":"Too deep"})"}, "Too deep"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    server.setHandler([answer = cases[i].first](const auto&) { return answer; });
    EXPECT_EQ(open(), cases[i].second) << "case " << i;
  }
  EXPECT_LT(server.bytesStreamed(), std::size_t{32} << 20);
  EXPECT_EQ(server.requests().size(), cases.size());
}

}  // namespace
