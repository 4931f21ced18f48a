#include "platform/http/CurlSession.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/http/HttpTestSupport.h"

namespace {

using platform::http::CurlSession;
using platform::http::HttpRequest;
using platform::http::HttpResponse;
using platform::http::HttpResult;
using platform::http::TransportError;
using testsupport::answer;
using testsupport::HttpReply;
using testsupport::LoopbackHttpServer;
using testsupport::RecordedRequest;

HttpRequest postTo(const std::string& url, std::string body = "{}") {
  return HttpRequest{url, {{"Content-Type", "application/json"}, {"Authorization", "Bearer t"}}, std::move(body),
                     std::chrono::seconds(10)};
}

HttpResponse response(const HttpResult& result) {
  if (const auto* error = std::get_if<TransportError>(&result)) {
    ADD_FAILURE() << "transport error: " << error->description;
    return {-1, "<transport error>"};
  }
  return std::get<HttpResponse>(result);
}

std::optional<TransportError::Kind> failureKind(const HttpResult& result) {
  if (const auto* error = std::get_if<TransportError>(&result)) return error->kind;
  return std::nullopt;
}

// Points libcurl's plain-http proxy variable at a recording server for one test, so a
// request that leaves this machine or goes through a proxy shows up there.
class ProxyVariable {
 public:
  explicit ProxyVariable(const std::string& url) { setenv("http_proxy", url.c_str(), 1); }
  ~ProxyVariable() { unsetenv("http_proxy"); }
  ProxyVariable(const ProxyVariable&) = delete;
  ProxyVariable& operator=(const ProxyVariable&) = delete;
};

TEST(CurlSessionTest, SendsThePostAsGivenAndReturnsStatusAndBody) {
  LoopbackHttpServer server([](const RecordedRequest&) { return answer(201, R"({"a":1})"); });
  HttpRequest request = postTo(server.url("/v1/api//voice/sfu/c/screen-session"), R"({"sessionId":"s"})");
  request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer  two  blanks"}};

  const auto reply = response(CurlSession::shared().post(request));
  EXPECT_EQ(reply.status, 201);
  EXPECT_EQ(reply.body, R"({"a":1})");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/v1/api//voice/sfu/c/screen-session");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer  two  blanks");
  EXPECT_EQ(requests[0].header("Expect"), "");
  EXPECT_EQ(requests[0].body, R"({"sessionId":"s"})");
}

TEST(CurlSessionTest, StatusesAreReturnedAsTheyCameAndRedirectsAreNotFollowed) {
  LoopbackHttpServer server([](const RecordedRequest& request) {
    int status = std::stoi(request.target.substr(1));
    HttpReply reply = answer(status, R"({"message":"m"})");
    if (status / 100 == 3) reply.headers.emplace("Location", "/200");
    return reply;
  });
  for (int status : {200, 204, 299, 301, 302, 307, 308, 400, 403, 404, 500, 503}) {
    SCOPED_TRACE(status);
    const auto reply = response(CurlSession::shared().post(postTo(server.url("/" + std::to_string(status)))));
    EXPECT_EQ(reply.status, status);
  }
  // One request per status: not one of the redirects was followed.
  EXPECT_EQ(server.requests().size(), 12u);
}

TEST(CurlSessionTest, UrlsAreCheckedBeforeAnythingIsSent) {
  LoopbackHttpServer server([](const RecordedRequest&) { return answer(200, "{}"); });
  LoopbackHttpServer proxy([](const RecordedRequest&) { return answer(200, "{}"); });
  testsupport::waitUntilServing(proxy);
  ProxyVariable viaProxy(proxy.url());
  const std::string port = std::to_string(server.port());
  using Kind = TransportError::Kind;

  struct Case {
    std::string url;
    std::optional<Kind> failure;  // nothing: answered by the server
  };
  const std::vector<Case> cases = {
      {"", Kind::invalidRequest},
      {"not a url", Kind::invalidRequest},
      {"127.0.0.1:" + port + "/x", Kind::invalidRequest},  // no scheme guessing
      {"http://127.0.0.1:" + port + "/a b", Kind::invalidRequest},
      {"ftp://127.0.0.1:" + port + "/x", Kind::invalidRequest},
      {"file:///etc/passwd", Kind::invalidRequest},
      {"http://api.example.com/v1/api", Kind::insecure},
      {"http://10.1.2.3:" + port + "/x", Kind::insecure},
      {"http://127.0.0.1.example.com:" + port + "/x", Kind::insecure},
      {"http://localhost.example.com:" + port + "/x", Kind::insecure},
      {"http://[::ffff:127.0.0.1]:" + port + "/x", Kind::insecure},
      {"HTTP://example.com/x", Kind::insecure},
      {"http://127.0.0.1:" + port + "/x", std::nullopt},
      {"http://localhost:" + port + "/x", std::nullopt},
      {"http://LocalHost:" + port + "/x", std::nullopt},
      {"http://127.1:" + port + "/x", std::nullopt},
      {"HTTP://127.0.0.1:" + port + "/x", std::nullopt},
      // Allowed by the policy; nothing listens there, or not with TLS.
      {"http://127.9.9.9:" + port + "/x", Kind::failed},
      {"http://[::1]:" + port + "/x", Kind::failed},
      {"https://127.0.0.1:" + port + "/x", Kind::failed},
  };
  std::size_t answered = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    auto result = CurlSession::shared().post(postTo(c.url));
    EXPECT_EQ(failureKind(result), c.failure);
    if (const auto* error = std::get_if<TransportError>(&result)) {
      EXPECT_FALSE(error->description.empty());
    }
    if (!c.failure) ++answered;
  }
  // Plain http never goes through a proxy, and nothing refused reached any server
  // (the TLS attempt above reached the server but sent nothing it could take as HTTP).
  EXPECT_TRUE(proxy.requests().empty());
  EXPECT_EQ(server.requests().size(), answered);
}

TEST(CurlSessionTest, HeadersThatCannotBeSentAsGivenAreRefused) {
  LoopbackHttpServer server([](const RecordedRequest&) { return answer(200, "{}"); });
  testsupport::waitUntilServing(server);
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"Authorization", "Bearer a\r\nX-Injected: 1"},
      {"Authorization", "Bearer a\nb"},
      {"Authorization", std::string("Bearer a\0b", 10)},
      {"X-Injected: 1\r\nAuthorization", "Bearer a"},
      {"X-Empty", ""},
      {"", "value"},
  };
  for (const auto& header : refused) {
    HttpRequest request = postTo(server.url("/x"));
    request.headers.push_back(header);
    EXPECT_EQ(failureKind(CurlSession::shared().post(request)), TransportError::Kind::invalidRequest) << header.first;
  }
  EXPECT_TRUE(server.requests().empty());
}

// A server of its own for what LoopbackHttpServer cannot do: chunked replies and the
// client's port of each request.
class ChunkedServer {
 public:
  ChunkedServer() {
    server_.set_tcp_nodelay(true);
    server_.Post(R"(/chunked/(\d+))", [this](const httplib::Request& request, httplib::Response& reply) {
      record(request.remote_port);
      auto size = std::stoul(request.matches[1]);
      reply.set_chunked_content_provider("application/json", [size](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= size) {
          sink.done();
          return true;
        }
        std::string chunk(std::min<std::size_t>(64 * 1024, size - offset), 'x');
        return sink.write(chunk.data(), chunk.size());
      });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~ChunkedServer() {
    server_.stop();
    thread_.join();
  }
  ChunkedServer(const ChunkedServer&) = delete;
  ChunkedServer& operator=(const ChunkedServer&) = delete;

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::vector<int> clientPorts() const {
    std::lock_guard lock(mutex_);
    return clientPorts_;
  }

 private:
  void record(int port) {
    std::lock_guard lock(mutex_);
    clientPorts_.push_back(port);
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<int> clientPorts_;
};

TEST(CurlSessionTest, RepliesOverOneMebibyteEndTheRequest) {
  constexpr std::size_t cap = CurlSession::kMaxReplyBytes;
  LoopbackHttpServer sized([](const RecordedRequest& request) {
    return answer(200, std::string(std::stoul(request.target.substr(1)), 'x'));
  });
  ChunkedServer chunked;
  for (std::size_t size : {cap, cap + 1, 8 * cap}) {
    SCOPED_TRACE(size);
    const bool fits = size <= cap;
    auto announced = CurlSession::shared().post(postTo(sized.url("/" + std::to_string(size))));
    auto streamed = CurlSession::shared().post(postTo(chunked.url("/chunked/" + std::to_string(size))));
    for (const auto* result : {&announced, &streamed}) {
      if (fits) {
        EXPECT_EQ(response(*result).body.size(), size);
      } else {
        EXPECT_EQ(failureKind(*result), TransportError::Kind::replyTooLarge);
      }
    }
  }
}

TEST(CurlSessionTest, BackToBackRequestsReuseOneConnection) {
  ChunkedServer server;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(response(CurlSession::shared().post(postTo(server.url("/chunked/10")))).status, 200);
  auto ports = server.clientPorts();
  ASSERT_EQ(ports.size(), 5u);
  for (int port : ports) EXPECT_EQ(port, ports.front());
}

TEST(CurlSessionTest, AServerThatNeverAnswersTimesOut) {
  testsupport::SilentListener silent;
  HttpRequest request = postTo(silent.url("/x"));
  request.timeout = std::chrono::milliseconds(300);
  auto result = CurlSession::shared().post(request);
  ASSERT_EQ(failureKind(result), TransportError::Kind::timedOut);
  EXPECT_EQ(std::get<TransportError>(result).description, "The request timed out.");
}

}  // namespace
