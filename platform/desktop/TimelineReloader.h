#pragma once

namespace platform::desktop {

// Asks the widget host to rebuild every widget timeline of the app. Called on the main
// thread. WidgetCenter is the real one; tests record instead.
class TimelineReloader {
 public:
  virtual ~TimelineReloader() = default;
  virtual void reloadAllTimelines() = 0;
};

}  // namespace platform::desktop
