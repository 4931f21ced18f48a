#pragma once

#include <gio/gio.h>

#include <functional>

#include "platform/desktop/WidgetCenterBus.h"
#include "platform/gobject/ObjectRef.h"

namespace platform::widgethost {

// Listens on the session bus for the app's request to reload every widget timeline
// and calls `onReload` for each, on the thread that made the listener (its GLib main
// context). Without a session bus it never calls, silently.
class ReloadSignalListener {
 public:
  static constexpr const char* objectPath = desktop::widgetcenterbus::kObjectPath;
  static constexpr const char* interfaceName = desktop::widgetcenterbus::kInterface;
  static constexpr const char* signalName = desktop::widgetcenterbus::kReloadSignal;

  explicit ReloadSignalListener(std::function<void()> onReload);
  ~ReloadSignalListener();
  ReloadSignalListener(const ReloadSignalListener&) = delete;
  ReloadSignalListener& operator=(const ReloadSignalListener&) = delete;

  [[nodiscard]] bool listening() const { return subscription_ != 0; }

 private:
  static void onSignal(GDBusConnection* connection, const gchar* sender, const gchar* path,
                       const gchar* interface, const gchar* signal, GVariant* parameters, gpointer self);

  std::function<void()> onReload_;
  gobject::ObjectRef<GDBusConnection> bus_;
  guint subscription_ = 0;
};

}  // namespace platform::widgethost
