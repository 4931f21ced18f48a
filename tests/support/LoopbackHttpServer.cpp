#include "tests/support/LoopbackHttpServer.h"

#include <strings.h>

#include <stdexcept>

namespace testsupport {

std::string RecordedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  return {};
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
  server_.set_tcp_nodelay(true);  // kept-alive exchanges are not held back by Nagle's algorithm
  // A client's idle kept-alive connection holds a server thread until this runs out,
  // and stopping waits for those threads.
  server_.set_keep_alive_timeout(1);
  server_.set_keep_alive_max_count(1000);  // a client's connection is closed only by the client
  auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    const RecordedRequest recorded{
        request.method, request.target, {request.headers.begin(), request.headers.end()}, request.body};
    const Handler current = [&] {
      std::lock_guard lock(mutex_);
      requests_.push_back(recorded);
      return handler_;
    }();
    const HttpReply reply = current ? current(recorded) : HttpReply{404, "", "text/plain", {}};
    response.status = reply.status;
    for (const auto& [key, value] : reply.headers) response.set_header(key, value);
    if (!reply.stream) return response.set_content(reply.body, reply.contentType);
    response.set_chunked_content_provider(reply.contentType,
                                          [stream = reply.stream](std::size_t, httplib::DataSink& sink) {
                                            const auto piece = stream();
                                            return piece && sink.write(piece->data(), piece->size());
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

std::string LoopbackHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
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
