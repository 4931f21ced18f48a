#pragma once

#include <httplib.h>
#include <sys/types.h>

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// sorn-demo-service on a port of its choosing, with extra environment variables; the port
// is read from the line it prints once it listens. Killed when the object goes, unless
// stopped before. Test thread.
class DemoService {
 public:
  explicit DemoService(const std::string& program, const std::vector<std::string>& extraEnvironment = {});
  ~DemoService();
  DemoService(const DemoService&) = delete;
  DemoService& operator=(const DemoService&) = delete;

  // 0 when the service did not start.
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] std::size_t openDescriptors() const;
  // Not counting GStreamer's clock thread, which the first call starts for the whole process.
  [[nodiscard]] std::size_t threads() const;

  // Asks the service to stop as Ctrl-C does; its exit status once it did.
  std::optional<int> stop();

  [[nodiscard]] httplib::Result request(const std::string& method, const std::string& path,
                                        const std::string& body = {}) const;
  // The voice calls the service holds (GET /demo/voice/peers); null when it did not answer.
  [[nodiscard]] nlohmann::json peers() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::optional<int> exitStatus_;
};

}  // namespace testsupport
