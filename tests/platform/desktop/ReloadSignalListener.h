#pragma once

#include <gio/gio.h>

#include <stdexcept>
#include <string>

#include "platform/desktop/WidgetCenter.h"
#include "platform/gobject/ObjectRef.h"

namespace desktoptest {

// Counts ReloadAllTimelines signals seen on the session bus, on a connection of its own
// as a widget host would. Signals arrive while the default main context is iterated.
class ReloadSignalListener {
 public:
  ReloadSignalListener() {
    GError* error = nullptr;
    char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (address != nullptr) {
      connection_ = platform::gobject::ObjectRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
          address,
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, &error));
      g_free(address);
    }
    if (!connection_) {
      std::string message = error != nullptr ? error->message : "no session bus";
      g_clear_error(&error);
      throw std::runtime_error("no session bus: " + message);
    }
    using W = platform::desktop::WidgetCenter;
    subscription_ = g_dbus_connection_signal_subscribe(connection_.get(), nullptr, W::kInterface, W::kReloadSignal,
                                                       W::kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal,
                                                       this, nullptr);
    // The bus handles a connection's messages in order: once this answer is back, the
    // match rule of the subscription is in force.
    GVariant* reply = g_dbus_connection_call_sync(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
  }
  ~ReloadSignalListener() {
    g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_);
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
  }
  ReloadSignalListener(const ReloadSignalListener&) = delete;
  ReloadSignalListener& operator=(const ReloadSignalListener&) = delete;

  int count() const { return count_; }
  // Signals that carried arguments, which a reload request never does.
  int withArguments() const { return withArguments_; }

 private:
  static void onSignal(GDBusConnection* /*connection*/, const char* /*sender*/, const char* /*path*/,
                       const char* /*interface*/, const char* /*member*/, GVariant* parameters, gpointer data) {
    auto* self = static_cast<ReloadSignalListener*>(data);
    ++self->count_;
    if (parameters != nullptr && g_variant_n_children(parameters) != 0) ++self->withArguments_;
  }

  platform::gobject::ObjectRef<GDBusConnection> connection_;
  guint subscription_ = 0;
  int count_ = 0;
  int withArguments_ = 0;
};

}  // namespace desktoptest
