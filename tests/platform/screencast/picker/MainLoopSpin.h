#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Runs the default GLib main context until the condition holds or the deadline passes;
// between idle iterations it naps briefly, so that other processes get the CPU.
// Returns the condition's last value. Test thread.
bool spinUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testsupport
