#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

namespace testsupport {

// sorn-demo-service on a port of its choosing, in the test's environment; the port is read from the line it
// prints once it listens. Killed when the object goes, unless stopped before. Test thread.
class DemoService {
 public:
  explicit DemoService(const std::string& program);
  ~DemoService();
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  [[nodiscard]] int port() const { return port_; }  // 0 when the service did not start
  [[nodiscard]] pid_t pid() const { return pid_; }
  // Asks the service to stop as Ctrl-C does; its exit status once it did.
  int stop();

  [[nodiscard]] httplib::Result request(const std::string& method, const std::string& path,
                                        const std::string& body = {}) const;
  // The voice calls the service holds (GET /demo/voice/peers); null when it did not answer.
  [[nodiscard]] nlohmann::json peers() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool stopped_ = false;
};

}  // namespace testsupport
