#pragma once

#include <chrono>
#include <functional>

#include "app/BroadcastLauncher.h"
#include "platform/desktop/ExternalOpener.h"
#include "platform/desktop/TimelineReloader.h"
#include "platform/dispatch/MainQueue.h"

namespace app {

// What the Coordinator reaches outside itself. The referenced objects outlive it: the
// app passes process-wide ones, tests pass recording fakes.
struct CoordinatorServices {
  // The current time in seconds since 1970-01-01 00:00 UTC.
  std::function<double()> now;
  platform::desktop::TimelineReloader& widgetCenter;
  BroadcastLauncher& broadcastLauncher;
  platform::desktop::ExternalOpener& opener;
  // Where the statistics are written, one turn after they arrive.
  platform::dispatch::MainQueue& mainQueue;
  // A clock that never jumps, for pacing what pages hand out unasked.
  std::function<std::chrono::steady_clock::time_point()> steadyNow;
};

}  // namespace app
