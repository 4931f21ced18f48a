#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace bench {

// A loopback HTTP server at the demo build's dashboard address (127.0.0.1:8765) serving a
// page that fetches /loaded once its window's load event fired, and noting when that
// request arrives. Serves on its own threads; the waits run on the benchmark thread.
class LoadProbeServer {
 public:
  static constexpr int kPort = 8765;

  LoadProbeServer();
  ~LoadProbeServer();
  LoadProbeServer(const LoadProbeServer&) = delete;
  LoadProbeServer& operator=(const LoadProbeServer&) = delete;

  // False when the port is taken.
  [[nodiscard]] bool listening() const { return listening_; }
  // The page, under the name the demo build of the app loads.
  [[nodiscard]] static std::string pageUrl();

  // Forgets loads seen so far, before a program is started.
  void expectLoad();
  // When the page reported its load, waiting up to `limit`.
  std::optional<std::chrono::steady_clock::time_point> waitForLoad(std::chrono::milliseconds limit);

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  bool listening_ = false;
  std::mutex mutex_;
  std::condition_variable loaded_;
  std::optional<std::chrono::steady_clock::time_point> loadedAt_;
};

}  // namespace bench
