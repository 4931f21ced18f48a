#pragma once

#include <utility>

namespace platform::dispatch {

// Runs a callback that a C library (GLib, GTK, GStreamer, GDBus, a web engine) makes into our
// code, where no exception may unwind. An exception ends `body` early and `onFailure` runs,
// so that what the caller is owed (a policy decision, a permission answer, a next timer) is
// still given; it must not throw either, and is stopped when it does. True when `body` ran
// to its end.
template <typename Body, typename OnFailure>
bool runGuarded(Body&& body, OnFailure&& onFailure) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {  // NOLINT(bugprone-empty-catch): the failure is answered below
  }
  try {
    std::forward<OnFailure>(onFailure)();
  } catch (...) {  // NOLINT(bugprone-empty-catch): nothing is left to answer with
  }
  return false;
}

// The same where nothing is owed: the callback's work is lost.
template <typename Body>
bool runGuarded(Body&& body) noexcept {
  return runGuarded(std::forward<Body>(body), [] {});
}

}  // namespace platform::dispatch
