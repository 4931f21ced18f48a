#pragma once

#include <gio/gio.h>

#include "platform/desktop/TimelineReloader.h"
#include "platform/desktop/WidgetCenterBus.h"
#include "platform/gobject/ObjectRef.h"

namespace platform::desktop {

// The widget reload request as the signal com.tarnwell.sorn.WidgetCenter.ReloadAllTimelines
// (no arguments) on the session bus, from the object /com/tarnwell/sorn/WidgetCenter,
// which the widget host listens for. Requests made before the main loop gets round to
// sending are one signal. Keeps the process's session-bus connection once found, and
// looks for it again at the next request while there is none; without a bus nothing
// happens. Main thread; the signal goes out from the caller's GLib main context.
class WidgetCenter final : public TimelineReloader {
 public:
  static constexpr const char* kObjectPath = widgetcenterbus::kObjectPath;
  static constexpr const char* kInterface = widgetcenterbus::kInterface;
  static constexpr const char* kReloadSignal = widgetcenterbus::kReloadSignal;

  static WidgetCenter& shared();

  void reloadAllTimelines() override;

 private:
  WidgetCenter() = default;

  void lookForBus();
  void scheduleEmission();
  static void onBusFound(GObject* source, GAsyncResult* result, gpointer self);
  static gboolean onEmission(gpointer self);

  gobject::ObjectRef<GDBusConnection> bus_;
  bool lookingForBus_ = false;
  bool reloadPending_ = false;
  bool emissionScheduled_ = false;
};

}  // namespace platform::desktop
