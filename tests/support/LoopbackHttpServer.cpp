#include "tests/support/LoopbackHttpServer.h"

#include <stdexcept>

namespace testsupport {

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
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
        reply.contentType, [this, reply, left = reply.pieces](std::size_t, httplib::DataSink& sink) mutable {
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

LoopbackHttpServer::~LoopbackHttpServer() {
  server_.stop();
  thread_.join();
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::setHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

}  // namespace testsupport
