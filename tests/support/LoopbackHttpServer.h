#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Method, target (path and query as sent), headers (names in any case; get_header_value
// gives "" when absent) and body.
using RecordedRequest = httplib::Request;

struct HttpReply {
  int status = 200;
  std::string body = {};
  std::string contentType = "application/json";
  std::multimap<std::string, std::string> headers = {};
  // With pieces, the body instead: `piece` that many times, each after `pause`, without
  // a length, while the client reads; then the connection drops, the reply cut short.
  std::string piece = {};
  int pieces = 0;
  std::chrono::milliseconds pause{0};
};

// A real HTTP/1.1 server on 127.0.0.1 with a free port, served from its own threads.
// Records every GET and POST request and answers each with what the handler returns
// (404 without one).
class LoopbackHttpServer {
 public:
  using Handler = std::function<HttpReply(const RecordedRequest&)>;

  explicit LoopbackHttpServer(Handler handler);
  ~LoopbackHttpServer();

  // "http://127.0.0.1:<port>" followed by the path.
  std::string url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<RecordedRequest> requests() const;
  std::size_t bytesStreamed() const { return streamed_; }  // of the pieces
  void setHandler(Handler handler);

 private:
  httplib::Server server_;
  std::thread thread_;
  mutable std::mutex mutex_;
  Handler handler_;
  std::vector<RecordedRequest> requests_;
  std::atomic<std::size_t> streamed_{0};
  int port_ = 0;
};

}  // namespace testsupport
