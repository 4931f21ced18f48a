#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Polls `done` every few milliseconds, without running any main loop, until it holds or
// `limit` passes; the last value of `done`. For waits on other processes. Test thread.
inline bool within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() <= deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

}  // namespace testsupport
