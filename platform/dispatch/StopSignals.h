#pragma once

#include <functional>

namespace platform::dispatch {

// Runs `stop` on the GLib main loop each time the process gets SIGINT or SIGTERM, ahead of
// any other pending work, so that no amount of it (a flood of signals from the bus, a busy
// page) keeps a program from ending cleanly when asked to. Main thread.
class StopSignals {
 public:
  explicit StopSignals(std::function<void()> stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  std::function<void()> stop_;
  unsigned interrupt_ = 0;
  unsigned terminate_ = 0;
};

}  // namespace platform::dispatch
