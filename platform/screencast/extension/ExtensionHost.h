#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/screencast/extension/BroadcastSampleHandler.h"

namespace platform::screencast {

struct ExtensionHostOptions {
  // GStreamer launch description ending in an appsink named "sink" (see CaptureSource.h).
  std::string captureDescription;
  // Capture what the user picks in the desktop's screen-cast portal instead; its stream
  // is captured as portalCaptureDescription gives it, and captureDescription is unused.
  bool captureThroughPortal = false;
  // Show the "Sharing your screen" indicator when a display is there.
  bool showIndicator = true;
  // How long runBroadcastExtension waits, once finished has returned and the indicator
  // is let go, for tasks still running on the shared worker pool (the handler's
  // requests); it returns as soon as they are done.
  std::chrono::milliseconds taskDrainLimit{0};
};

// Runs one broadcast with the handler, as the broadcast service does for an extension:
// calls started, captures with GStreamer and hands each video sample to the handler on
// the capture thread, and calls finished on Stop in the indicator, on SIGINT or
// SIGTERM, when the source ends or the desktop closes the portal session, then waits for
// the handler's tasks (taskDrainLimit). An error handed to finishBroadcastWithError (or a
// capture failure, or the portal's: cancelled, not there) stops the capture, shows its
// description on standard error and in the indicator, then calls finished.
// One broadcast at a time (BroadcastLock): while another process runs one, the handler is
// not started at all and "A screen broadcast is already running." is shown instead.
// Gives the exit status: 0 after a finished broadcast, 1 after one that ended with an
// error or was refused. Runs on the calling (main) thread.
int runBroadcastExtension(const std::shared_ptr<BroadcastSampleHandler>& handler,
                          const ExtensionHostOptions& options);

}  // namespace platform::screencast
