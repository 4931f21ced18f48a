#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::multimap<std::string, std::string> headers;
  std::string body;

  std::string header(const std::string& name) const;
};

struct HttpReply {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::multimap<std::string, std::string> headers;
};

// A real HTTP/1.1 server on 127.0.0.1 with a free port, served from its own threads.
// Records every request and answers each with what the handler returns. TCP_NODELAY
// is on so kept-alive exchanges are not held back by Nagle's algorithm.
class LoopbackHttpServer {
 public:
  using Handler = std::function<HttpReply(const RecordedRequest&)>;

  explicit LoopbackHttpServer(Handler handler);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by the path.
  std::string url(const std::string& path = "") const;

  std::vector<RecordedRequest> requests() const;
  void setHandler(Handler handler);
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

}  // namespace testsupport
