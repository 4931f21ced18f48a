#include "bench/app/PageServer.h"

#include <httplib.h>

namespace bench {

PageServer::PageServer(std::string page) : server_(std::make_unique<httplib::Server>()) {
  server_->set_tcp_nodelay(true);
  server_->Get("/", [page = std::move(page)](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_content(page, "text/html; charset=utf-8");
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (listening()) thread_ = std::thread([this] { server_->listen_after_bind(); });
}

PageServer::~PageServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string PageServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

}  // namespace bench
