#pragma once

#include "platform/desktop/TimelineReloader.h"

namespace platform::desktop {

// Stands in for the phone's widget centre: a reload request is the signal
// com.tarnwell.sorn.WidgetCenter.ReloadAllTimelines (no arguments) on the session bus,
// from the object /com/tarnwell/sorn/WidgetCenter, which the widget host listens for.
// Without a session bus nothing happens. Main thread.
class WidgetCenter final : public TimelineReloader {
 public:
  static constexpr const char* kObjectPath = "/com/tarnwell/sorn/WidgetCenter";
  static constexpr const char* kInterface = "com.tarnwell.sorn.WidgetCenter";
  static constexpr const char* kReloadSignal = "ReloadAllTimelines";

  static WidgetCenter& shared();

  void reloadAllTimelines() override;

 private:
  WidgetCenter() = default;
};

}  // namespace platform::desktop
