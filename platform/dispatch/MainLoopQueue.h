#pragma once

#include "platform/dispatch/MainQueue.h"

namespace platform::dispatch {

// The main queue of a GLib program: each post is an idle source of the default main context
// at default priority, so it takes turns with input and the web engine's messages instead of
// waiting behind them. Main thread.
class MainLoopQueue final : public MainQueue {
 public:
  static MainLoopQueue& shared();
  void post(std::function<void()> work) override;

 private:
  MainLoopQueue() = default;
};

}  // namespace platform::dispatch
