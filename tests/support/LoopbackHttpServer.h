#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
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

  explicit LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    server_.set_tcp_nodelay(true);  // kept-alive exchanges are not held back by Nagle's algorithm
    // A client's idle kept-alive connection holds a server thread until this runs out,
    // and stopping waits for those threads.
    server_.set_keep_alive_timeout(1);
    server_.set_keep_alive_max_count(1000);  // a client's connection is closed only by the client
    auto serve = [this](const httplib::Request& request, httplib::Response& response) {
      const Handler current = [&] {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        return handler_;
      }();
      const HttpReply reply = current ? current(request) : HttpReply{404, "", "text/plain", {}};
      response.status = reply.status;
      for (const auto& [key, value] : reply.headers) response.set_header(key, value);
      if (reply.pieces == 0) return response.set_content(reply.body, reply.contentType);
      response.set_chunked_content_provider(
          reply.contentType,
          [this, reply, left = reply.pieces](std::size_t, httplib::DataSink& sink) mutable {
            std::this_thread::sleep_for(reply.pause);
            streamed_ += reply.piece.size();
            return left-- > 0 && sink.write(reply.piece.data(), reply.piece.size());
          });
    };
    server_.Get(".*", serve);
    server_.Post(".*", serve);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only ends a loop that has started, so do not hand out a server before.
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~LoopbackHttpServer() {
    server_.stop();
    thread_.join();
  }

  // "http://127.0.0.1:<port>" followed by the path.
  std::string url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t bytesStreamed() const { return streamed_; }  // of the pieces
  void setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }

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
