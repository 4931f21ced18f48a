#pragma once

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace bench {

// A loopback HTTP server on 127.0.0.1, on a free port, serving one page at "/" from a
// thread of its own.
class PageServer {
 public:
  explicit PageServer(std::string page);
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // False when no port could be had.
  [[nodiscard]] bool listening() const { return port_ > 0; }
  // "http://127.0.0.1:<port>/".
  [[nodiscard]] std::string url() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = -1;
};

}  // namespace bench
