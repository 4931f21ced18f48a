#include "platform/widgethost/ReloadSignalListener.h"

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
  try {
    static_cast<ReloadSignalListener*>(self)->onReload_();
  } catch (...) {
    // Nothing may unwind into GDBus; the next reload or the timeline's own date retries.
  }
}

}  // namespace platform::widgethost
