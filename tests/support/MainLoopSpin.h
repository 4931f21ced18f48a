#pragma once

#include <glib.h>

#include <chrono>
#include <functional>

namespace testsupport {

// Iterates the default GLib main context until `done` holds or `limit` passes, napping
// when idle so that other processes get the CPU; the last value of `done`. Test thread.
inline bool spinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    if (g_main_context_iteration(nullptr, FALSE) == FALSE) g_usleep(2000);
  }
  return true;
}

}  // namespace testsupport
