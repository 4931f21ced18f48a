#pragma once

#include "platform/desktop/TimelineReloader.h"
#include "platform/desktop/WidgetCenterBus.h"

namespace platform::desktop {

// Stands in for the phone's widget centre: a reload request is the signal
// com.tarnwell.sorn.WidgetCenter.ReloadAllTimelines (no arguments) on the session bus,
// from the object /com/tarnwell/sorn/WidgetCenter, which the widget host listens for.
// Without a session bus nothing happens. Main thread.
class WidgetCenter final : public TimelineReloader {
 public:
  static constexpr const char* kObjectPath = widgetcenterbus::kObjectPath;
  static constexpr const char* kInterface = widgetcenterbus::kInterface;
  static constexpr const char* kReloadSignal = widgetcenterbus::kReloadSignal;

  static WidgetCenter& shared();

  void reloadAllTimelines() override;

 private:
  WidgetCenter() = default;
};

}  // namespace platform::desktop
