#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tests/support/LoopbackHttpServer.h"

namespace testsupport {

// A JSON reply of LoopbackHttpServer with that status and body. It closes the
// connection, so the server stops at once at the end of a test instead of waiting out
// the keep-alive time of the connection the client keeps.
inline HttpReply answer(int status, std::string body) {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.headers.emplace("Connection", "close");
  return reply;
}

// A loopback port that takes connections (the kernel completes the handshake) but
// never reads or answers: a server that never replies.
class SilentListener {
 public:
  SilentListener() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (fd_ < 0 || bind(fd_, generic, length) != 0 || listen(fd_, 16) != 0 || getsockname(fd_, generic, &length) != 0) {
      throw std::runtime_error("cannot listen on a loopback port");
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  std::string url(const std::string& path = "") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  int fd_;
  int port_ = 0;
};

// Returns once the server's accept loop answers. A server stopped before its loop ran
// would never stop, so tests whose requests may never reach it call this first. The
// probe's method has no handler there, so it is answered but not recorded.
inline void waitUntilServing(const LoopbackHttpServer& server) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(server.port()));
  const std::string probe = "OPTIONS /ready HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  char reply[64];
  const bool answered = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                        send(fd, probe.data(), probe.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(probe.size()) &&
                        recv(fd, reply, sizeof(reply), 0) > 0;
  if (fd >= 0) close(fd);
  if (!answered) throw std::runtime_error("the loopback server does not answer");
}

}  // namespace testsupport
