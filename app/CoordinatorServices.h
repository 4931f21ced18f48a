#pragma once

#include <functional>

#include "app/BroadcastLauncher.h"
#include "platform/desktop/ExternalOpener.h"
#include "platform/desktop/TimelineReloader.h"

namespace app {

// What the Coordinator reaches outside itself. The referenced objects outlive it: the
// app passes process-wide ones, tests pass recording fakes.
struct CoordinatorServices {
  // The current time in seconds since 1970-01-01 00:00 UTC.
  std::function<double()> now;
  platform::desktop::TimelineReloader& widgetCenter;
  BroadcastLauncher& broadcastLauncher;
  platform::desktop::ExternalOpener& opener;
};

}  // namespace app
