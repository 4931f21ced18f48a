#pragma once

#include <functional>

namespace platform::dispatch {

// The main thread's queue: work posted from the main thread runs there on a later turn of
// its loop, in the order posted, never inside post().
class MainQueue {
 public:
  virtual ~MainQueue() = default;
  virtual void post(std::function<void()> work) = 0;
};

}  // namespace platform::dispatch
