#include "platform/desktop/WidgetCenter.h"

namespace platform::desktop {

WidgetCenter& WidgetCenter::shared() {
  static WidgetCenter instance;
  return instance;
}

void WidgetCenter::reloadAllTimelines() {
  reloadPending_ = true;
  if (bus_ && g_dbus_connection_is_closed(bus_.get()) == FALSE) {
    scheduleEmission();
  } else {
    bus_ = {};
    lookForBus();
  }
}

void WidgetCenter::lookForBus() {
  if (lookingForBus_) return;
  lookingForBus_ = true;
  // The process's shared connection (the application's own, when it has one), found off
  // the main loop so that a slow or missing bus never holds the app up.
  g_bus_get(G_BUS_TYPE_SESSION, nullptr, &WidgetCenter::onBusFound, this);
}

void WidgetCenter::onBusFound(GObject* /*source*/, GAsyncResult* result, gpointer self) {
  auto& center = *static_cast<WidgetCenter*>(self);
  center.lookingForBus_ = false;
  g_autoptr(GError) error = nullptr;
  center.bus_ = gobject::ObjectRef<GDBusConnection>::adopt(g_bus_get_finish(result, &error));
  if (!center.bus_) {
    // Nobody can listen without a bus; the next request looks for one again.
    g_debug("no session bus, widget reload not sent: %s", error->message);
    center.reloadPending_ = false;
    return;
  }
  center.scheduleEmission();
}

void WidgetCenter::scheduleEmission() {
  if (emissionScheduled_) return;
  emissionScheduled_ = true;
  // At idle priority, so that requests still waiting on the main loop join this one.
  g_autoptr(GSource) idle = g_idle_source_new();
  g_source_set_callback(idle, &WidgetCenter::onEmission, this, nullptr);
  g_autoptr(GMainContext) context = g_main_context_ref_thread_default();
  g_source_attach(idle, context);
}

gboolean WidgetCenter::onEmission(gpointer self) {
  auto& center = *static_cast<WidgetCenter*>(self);
  center.emissionScheduled_ = false;
  if (!center.reloadPending_ || !center.bus_) return G_SOURCE_REMOVE;
  center.reloadPending_ = false;
  // A broadcast signal: whoever listens (a widget host, or nobody) takes it from the bus.
  // The kept connection sends it on; no flush needed.
  g_autoptr(GError) error = nullptr;
  if (g_dbus_connection_emit_signal(center.bus_.get(), nullptr, kObjectPath, kInterface, kReloadSignal,
                                    nullptr, &error) == FALSE) {
    g_debug("widget reload not sent: %s", error->message);
  }
  return G_SOURCE_REMOVE;
}

}  // namespace platform::desktop
