#pragma once

#include <vector>

#include "platform/widgethost/Clock.h"
#include "platform/widgethost/FrameCoalescer.h"
#include "platform/widgethost/HostWindow.h"
#include "platform/widgethost/LiveTimelines.h"
#include "platform/widgethost/PlacedWidget.h"
#include "platform/widgethost/ReloadSignalListener.h"

namespace platform::widgethost {

// The host's window mode put together: the placed widgets' timelines kept current, the
// window that draws them, and the app's reload signal answered with at most one reload
// a frame, so a flood of signals costs the host no more than one. GTK main thread.
class LiveHost {
 public:
  LiveHost(std::vector<PlacedWidget> placed, const Clock& clock);
  ~LiveHost() = default;
  LiveHost(const LiveHost&) = delete;
  LiveHost& operator=(const LiveHost&) = delete;

  [[nodiscard]] const LiveTimelines& timelines() const { return timelines_; }
  [[nodiscard]] HostWindow& window() { return window_; }
  // Whether the reload signal can reach the host (there is a session bus).
  [[nodiscard]] bool listening() const { return listener_.listening(); }

 private:
  // Set once the window exists: the timelines show their first entries before it does.
  HostWindow* shown_ = nullptr;
  LiveTimelines timelines_;
  HostWindow window_;
  FrameCoalescer reloads_;
  ReloadSignalListener listener_;
};

}  // namespace platform::widgethost
