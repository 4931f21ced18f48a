#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/signaling/ScreenShareSignaling.h"
#include "platform/http/CurlSession.h"

namespace {

using platform::http::CurlSession;
using platform::http::TransportError;

// A loopback server for one request that misbehaves: it reads the request up to the
// end of its JSON body, then hands the connection to the case's behaviour, on a thread
// of its own.
class HostileServer {
 public:
  using Behaviour = std::function<void(HostileServer&, int fd)>;

  explicit HostileServer(const Behaviour& behaviour) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (bind(listener_, generic, length) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, generic, &length) != 0) {
      throw std::runtime_error("cannot listen on a loopback port");
    }
    url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/v1/api";
    thread_ = std::thread([this, behaviour] {
      const int fd = accept(listener_, nullptr, nullptr);
      std::string request;
      char buffer[4096];
      for (ssize_t got; request.empty() || request.back() != '}';
           request.append(buffer, static_cast<std::size_t>(got))) {
        if ((got = recv(fd, buffer, sizeof(buffer), 0)) <= 0) break;
      }
      if (!request.empty() && request.back() == '}') behaviour(*this, fd);
      close(fd);
    });
  }
  ~HostileServer() {
    stopping = true;
    shutdown(listener_, SHUT_RDWR);  // a request that never came ends the accept()
    thread_.join();
    close(listener_);
  }
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  // Sends all of `data`; false once the client has gone.
  bool send(int fd, std::string_view data) {
    for (ssize_t sent = 0; !data.empty(); data.remove_prefix(static_cast<std::size_t>(sent))) {
      if ((sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL)) <= 0) return false;
      bytesSent += static_cast<std::size_t>(sent);
    }
    return true;
  }

  std::string url;
  std::atomic<bool> stopping{false};
  std::atomic<std::size_t> bytesSent{0};

 private:
  int listener_ = socket(AF_INET, SOCK_STREAM, 0);
  std::thread thread_;
};

HostileServer::Behaviour reply(int status, std::string body) {
  return [status, body](HostileServer& server, int fd) {
    server.send(fd, "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  };
}

// Sends what it has, then ends the connection with a reset instead of an orderly close.
HostileServer::Behaviour resetAfter(std::string partial) {
  return [partial](HostileServer& server, int fd) {
    server.send(fd, partial);
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
  };
}

std::string nested(int depth, const std::string& open, const std::string& inner, char close) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  return text + inner + std::string(static_cast<std::size_t>(depth), close);
}

// The shared transport while it lives: forwards to the real session with a short
// time-out, so that a server too slow to finish costs the test half a second instead
// of the client's 60.
class ShortTimeout final : public platform::http::HttpTransport {
 public:
  ShortTimeout() { platform::http::installSharedTransport(*this); }
  ~ShortTimeout() override { platform::http::installSharedTransport(CurlSession::shared()); }
  ShortTimeout(const ShortTimeout&) = delete;
  ShortTimeout& operator=(const ShortTimeout&) = delete;

  platform::http::HttpResult post(const platform::http::HttpRequest& request) override {
    platform::http::HttpRequest shortened = request;
    shortened.timeout = std::chrono::milliseconds(500);
    return CurlSession::shared().post(shortened);
  }
};

struct Case {
  std::string what;
  HostileServer::Behaviour behaviour;
  std::string description;               // exactly, or "" for a failure of libcurl's with its own text
  std::size_t mostBytesSent = SIZE_MAX;  // what the server may send before the client hangs up
};

// Opens a screen session against each server through the real libcurl session: every
// open must fail with an error a user can read.
void expectEachOpenFails(const std::vector<Case>& cases) {
  const ShortTimeout transport;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HostileServer server(c.behaviour);
    const auto outcome =
        broadcast::ScreenShareSignaling{server.url, "tok", "lounge"}.openScreenSession("voice-1");
    ASSERT_FALSE(outcome.ok());
    const std::string description = outcome.error().description();
    if (c.description.empty()) {
      const auto* failure = std::get_if<TransportError>(&outcome.error().cause);
      ASSERT_NE(failure, nullptr) << description;
      EXPECT_EQ(failure->kind, TransportError::Kind::failed);
      EXPECT_EQ(description.rfind("The request failed: ", 0), 0u) << description;
    } else {
      EXPECT_EQ(description, c.description);
    }
    EXPECT_LT(server.bytesSent, c.mostBytesSent);
  }
}

// Servers that drip, reset or flood: the open fails within the time-out, and a flood
// is cut off at the 1 MiB cap instead of being read whole. (A server that never
// answers is covered with the client's own tests.)
TEST(HostileServer, DripsResetsAndFloodsEndInAClearError) {
  constexpr std::size_t kFlood = std::size_t{100} << 20;
  expectEachOpenFails({
      {"drips one byte at a time",
       [](HostileServer& server, int fd) {
         for (char c : std::string(
                  "HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\n{\"screenSessionId\":\"scr-1\"}   ")) {
           if (server.stopping || !server.send(fd, std::string(1, c))) return;
           std::this_thread::sleep_for(std::chrono::milliseconds(40));
         }
       },
       "The request timed out."},
      {"resets at once", resetAfter(""), ""},
      {"resets mid-body", resetAfter("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"screenSess"), ""},
      {"streams 100 MiB",
       [](HostileServer& server, int fd) {
         if (!server.send(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) return;
         const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
         for (std::size_t sent = 0; sent < kFlood && server.send(fd, chunk); sent += 0x10000) {
         }
       },
       "The server's reply is larger than 1 MiB.", std::size_t{32} << 20},
  });
}

// Bodies within the cap that nest deeply or are not UTF-8 give no usable reply.
// (A top-level array nested as deep as the cap allows is covered with the client's
// own tests.)
TEST(HostileServer, DeepOrInvalidBodiesEndInAClearError) {
  expectEachOpenFails({
      {"nests objects", reply(200, nested(150'000, R"({"a":)", R"({"screenSessionId":"scr-1"})", '}')),
       "Unexpected response: no screenSessionId"},
      {"nests arrays beside its message",
       reply(422, R"({"x":)" + nested(300'000, "[", "", ']') + R"(,"message":"Too deep"})"), "Too deep"},
      {"sends a message that is not UTF-8", reply(403, "{\"message\":\"caf\xe9\"}"), "Request failed (403)"},
      {"sends an overlong encoding", reply(200, "{\"screenSessionId\":\"\xc0\xaf\"}"),
       "Unexpected response: no screenSessionId"},
      {"sends a lone surrogate", reply(200, "{\"screenSessionId\":\"\xed\xa0\x80\"}"),
       "Unexpected response: no screenSessionId"},
  });
}

}  // namespace
