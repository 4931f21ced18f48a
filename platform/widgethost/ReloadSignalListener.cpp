#include "platform/widgethost/ReloadSignalListener.h"

#include "platform/dispatch/Guarded.h"

namespace platform::widgethost {

ReloadSignalListener::ReloadSignalListener(std::function<void()> onReload) : onReload_(std::move(onReload)) {
  g_autoptr(GError) error = nullptr;
  bus_ = gobject::ObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
  if (!bus_) {
    g_debug("no session bus, widgets reload only at their timelines' dates: %s", error->message);
    return;
  }
  // Any sender: the app has no well-known name on the bus.
  subscription_ = g_dbus_connection_signal_subscribe(bus_.get(), nullptr, interfaceName, signalName,
                                                     objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                     &ReloadSignalListener::onSignal, this, nullptr);
}

ReloadSignalListener::~ReloadSignalListener() {
  if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(bus_.get(), subscription_);
}

void ReloadSignalListener::onSignal(GDBusConnection* /*connection*/, const gchar* /*sender*/,
                                    const gchar* /*path*/, const gchar* /*interface*/,
                                    const gchar* /*signal*/, GVariant* /*parameters*/, gpointer self) {
  // A reload that fails is tried again by the next signal or the timeline's own date.
  platform::dispatch::runGuarded([self] { static_cast<ReloadSignalListener*>(self)->onReload_(); });
}

}  // namespace platform::widgethost
