#pragma once

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <optional>

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

// Sends `signal` to a child spawned with G_SPAWN_DO_NOT_REAP_CHILD and reaps it: its wait
// status when it ended within `limit`, nothing when it had to be killed.
inline std::optional<int> stopAndReap(GPid pid, int signal, std::chrono::milliseconds limit) {
  int status = 0;
  kill(pid, signal);
  const bool ended = spinUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  g_spawn_close_pid(pid);
  return ended ? std::optional(status) : std::nullopt;
}

}  // namespace testsupport
