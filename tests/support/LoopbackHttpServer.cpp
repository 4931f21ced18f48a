#include "tests/support/LoopbackHttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace testsupport {

std::string RecordedRequest::header(const std::string& name) const {
  auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  };
  for (const auto& [key, value] : headers) {
    if (lower(key) == lower(name)) return value;
  }
  return {};
}

struct LoopbackHttpServer::Impl {
  httplib::Server server;
  std::thread thread;
  mutable std::mutex mutex;
  Handler handler;
  std::vector<RecordedRequest> requests;
};

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : impl_(std::make_unique<Impl>()) {
  impl_->handler = std::move(handler);
  impl_->server.set_tcp_nodelay(true);
  // A client's idle kept-alive connection holds a server thread until this runs out,
  // and stop() waits for those threads.
  impl_->server.set_keep_alive_timeout(1);
  auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.target = request.target;
    for (const auto& [key, value] : request.headers) recorded.headers.emplace(key, value);
    recorded.body = request.body;
    Handler current;
    {
      std::lock_guard lock(impl_->mutex);
      impl_->requests.push_back(recorded);
      current = impl_->handler;
    }
    HttpReply reply = current ? current(recorded) : HttpReply{404, "", "text/plain", {}};
    response.status = reply.status;
    for (const auto& [key, value] : reply.headers) response.set_header(key, value);
    response.set_content(reply.body, reply.contentType);
  };
  impl_->server.Get(".*", serve);
  impl_->server.Post(".*", serve);
  impl_->server.Put(".*", serve);
  impl_->server.Delete(".*", serve);
  port_ = impl_->server.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
  // stop() only ends a loop that has started, so do not hand out a server before.
  while (!impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackHttpServer::~LoopbackHttpServer() { stop(); }

void LoopbackHttpServer::stop() {
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::string LoopbackHttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

void LoopbackHttpServer::setHandler(Handler handler) {
  std::lock_guard lock(impl_->mutex);
  impl_->handler = std::move(handler);
}

}  // namespace testsupport

// The HTTP library behind the test server is a system library built without
// ThreadSanitizer: the sanitizer sees its worker threads' memory accesses through its
// interceptors but not the atomics that order them, and reports races inside it.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib.so\n"; }
