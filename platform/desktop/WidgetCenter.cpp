#include "platform/desktop/WidgetCenter.h"

#include <gio/gio.h>

#include "platform/gobject/ObjectRef.h"

namespace platform::desktop {

WidgetCenter& WidgetCenter::shared() {
  static WidgetCenter instance;
  return instance;
}

void WidgetCenter::reloadAllTimelines() {
  GError* error = nullptr;
  auto bus = gobject::ObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
  if (!bus) {
    g_clear_error(&error);
    return;
  }
  // A broadcast signal: whoever listens (a widget host, or nobody) takes it from the bus.
  if (g_dbus_connection_emit_signal(bus.get(), nullptr, kObjectPath, kInterface, kReloadSignal, nullptr, &error) == FALSE) {
    g_clear_error(&error);
    return;
  }
  // The process's bus connection may go away with the last reference, queued signal
  // and all; the pending flush keeps it until the signal is on the wire.
  g_dbus_connection_flush(bus.get(), nullptr, nullptr, nullptr);
}

}  // namespace platform::desktop
