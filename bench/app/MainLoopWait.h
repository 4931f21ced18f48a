#pragma once

#include <chrono>
#include <functional>

namespace bench {

// Runs the default GLib main context, sleeping only while nothing is ready, until `done`
// holds or `limit` has passed; the last value of `done`. Blocking instead of polling, so
// that what is timed meanwhile is not held up by naps. Main thread.
bool iterateMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace bench
