#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/CurlSession.h"
#include "tests/platform/http/HttpTestSupport.h"

namespace {

using platform::http::CurlSession;
using platform::http::HttpRequest;
using platform::http::HttpResponse;
using platform::http::HttpResult;
using platform::http::TransportError;
using testsupport::answer;
using testsupport::LoopbackHttpServer;
using testsupport::RecordedRequest;
using Kind = TransportError::Kind;

HttpResult post(const std::string& url) {
  return CurlSession::shared().post({url,
                                     {{"Content-Type", "application/json"}, {"Authorization", "Bearer t"}},
                                     "{}",
                                     std::chrono::seconds(10)});
}

std::optional<Kind> failureKind(const HttpResult& result) {
  if (const auto* error = std::get_if<TransportError>(&result)) return error->kind;
  return std::nullopt;
}

TEST(CurlSessionTest, StatusesAndBodiesComeBackAsTheyCameAndRedirectsAreNotFollowed) {
  LoopbackHttpServer server([](const RecordedRequest& request) {
    const int status = std::stoi(request.target.substr(1));
    auto reply = answer(status, R"({"status":)" + std::to_string(status) + "}");
    if (status / 100 == 3) reply.headers.emplace("Location", "/200");
    return reply;
  });
  const std::vector<int> statuses = {200, 204, 299, 301, 302, 307, 308, 400, 403, 404, 500, 503};
  for (int status : statuses) {
    const auto result = post(server.url("/" + std::to_string(status)));
    ASSERT_FALSE(failureKind(result)) << std::get<TransportError>(result).description;
    EXPECT_EQ(std::get<HttpResponse>(result).status, status);
    const std::string body = status == 204 ? "" : R"({"status":)" + std::to_string(status) + "}";
    EXPECT_EQ(std::get<HttpResponse>(result).body, body);
  }
  EXPECT_EQ(server.requests().size(), statuses.size()) << "a redirect was followed";
}

TEST(CurlSessionTest, UrlsAreCheckedBeforeAnythingIsSent) {
  LoopbackHttpServer server([](const RecordedRequest&) { return answer(200, "{}"); });
  // Plain http must never go through a proxy: one that records shows it if it does.
  LoopbackHttpServer proxy([](const RecordedRequest&) { return answer(200, "{}"); });
  setenv("http_proxy", proxy.url().c_str(), 1);
  // "PORT" stands for the server's port.
  const std::vector<std::pair<std::optional<Kind>, std::vector<std::string>>> cases = {
      {Kind::invalidRequest,  // no scheme guessing, no other schemes
       {"", "not a url", "127.0.0.1:PORT/x", "http://127.0.0.1:PORT/a b", "ftp://127.0.0.1:PORT/x",
        "file:///etc/passwd"}},
      {Kind::insecure,
       {"http://api.example.com/v1/api", "http://10.1.2.3:PORT/x", "http://127.0.0.1.example.com:PORT/x",
        "http://localhost.example.com:PORT/x", "http://[::ffff:127.0.0.1]:PORT/x", "HTTP://example.com/x"}},
      {std::nullopt,  // answered
       {"http://127.0.0.1:PORT/x", "http://localhost:PORT/x", "http://LocalHost:PORT/x",
        "http://127.1:PORT/x", "HTTP://127.0.0.1:PORT/x"}},
      // Allowed, but nothing listens there, or not with TLS.
      {Kind::failed, {"http://127.9.9.9:PORT/x", "http://[::1]:PORT/x", "https://127.0.0.1:PORT/x"}},
  };
  std::size_t answered = 0;
  for (const auto& [failure, urls] : cases) {
    for (std::string url : urls) {
      if (const auto at = url.find("PORT"); at != std::string::npos)
        url.replace(at, 4, std::to_string(server.port()));
      const auto result = post(url);
      EXPECT_EQ(failureKind(result), failure) << url;
      if (!failure) {
        ++answered;
      } else {
        EXPECT_FALSE(std::get<TransportError>(result).description.empty()) << url;
      }
    }
  }
  unsetenv("http_proxy");
  EXPECT_TRUE(proxy.requests().empty());
  // Nothing refused reached the server (the TLS attempt sent nothing it took as HTTP).
  EXPECT_EQ(server.requests().size(), answered);
}

TEST(CurlSessionTest, HeadersThatCannotBeSentAsGivenAreRefused) {
  LoopbackHttpServer server([](const RecordedRequest&) { return answer(200, "{}"); });
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"Authorization", "Bearer a\r\nX-Injected: 1"},
      {"Authorization", "Bearer a\nb"},
      {"Authorization", std::string("Bearer a\0b", 10)},
      {"X-Injected: 1\r\nAuthorization", "Bearer a"},
      {"X-Empty", ""},
      {"", "value"}};
  for (const auto& header : refused) {
    HttpRequest request{server.url("/x"), {{"Content-Type", "application/json"}, header}, "{}"};
    EXPECT_EQ(failureKind(CurlSession::shared().post(request)), Kind::invalidRequest) << header.first;
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST(CurlSessionTest, RepliesOverOneMebibyteEndTheRequest) {
  constexpr std::size_t cap = CurlSession::kMaxReplyBytes;
  LoopbackHttpServer announced([](const RecordedRequest& request) {
    return answer(200, std::string(std::stoul(request.target.substr(1)), 'x'));
  });
  // Replies without a length (chunked), which LoopbackHttpServer does not send.
  httplib::Server streamed;
  streamed.Post(R"(/(\d+))", [](const httplib::Request& request, httplib::Response& reply) {
    reply.set_chunked_content_provider("application/json", [size = std::stoul(request.matches[1])](
                                                               std::size_t offset, httplib::DataSink& sink) {
      const std::string chunk(std::min<std::size_t>(64 * 1024, size - offset), 'x');
      return offset < size ? sink.write(chunk.data(), chunk.size()) : (sink.done(), true);
    });
  });
  const std::string streamedUrl =
      "http://127.0.0.1:" + std::to_string(streamed.bind_to_any_port("127.0.0.1")) + "/";
  std::thread serving([&streamed] { streamed.listen_after_bind(); });
  while (!streamed.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (std::size_t size : {cap, cap + 1, 8 * cap}) {
    for (const auto& result :
         {post(announced.url("/" + std::to_string(size))), post(streamedUrl + std::to_string(size))}) {
      const auto* reply = std::get_if<HttpResponse>(&result);
      EXPECT_EQ(failureKind(result), size <= cap ? std::nullopt : std::optional(Kind::replyTooLarge)) << size;
      EXPECT_EQ(reply != nullptr ? reply->body.size() : 0, size <= cap ? size : 0) << size;
    }
  }
  streamed.stop();
  serving.join();
}

TEST(CurlSessionTest, BackToBackRequestsReuseOneConnection) {
  LoopbackHttpServer server([](const RecordedRequest&) {
    return testsupport::HttpReply{200, "{}", "application/json", {}};
  });
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(failureKind(post(server.url("/x"))));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  ASSERT_NE(requests[0].header("REMOTE_PORT"), "");
  for (const auto& request : requests)
    EXPECT_EQ(request.header("REMOTE_PORT"), requests[0].header("REMOTE_PORT"));
}

}  // namespace
