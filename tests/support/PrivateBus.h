#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace testsupport {

// A session bus of the test program's own, for it and the programs it starts: other tests
// running at the same time (reload signals, single-instance names) must not reach it.
// Register with ::testing::AddGlobalTestEnvironment(new PrivateBus).
class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    g_autofree gchar* display = g_strdup(g_getenv("DISPLAY"));
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);  // clears DISPLAY (against autolaunch); the programs need it
    if (display != nullptr) g_setenv("DISPLAY", display, TRUE);
  }
  // Stopped but not taken down, and kept to the end: taking it down waits for the process's
  // bus connection, which singletons such as the widget centre keep for good.
  void TearDown() override { g_test_dbus_stop(bus_); }

 private:
  static inline GTestDBus* bus_ = nullptr;
};

// Whether some process owns the well-known name on the session bus.
inline bool busNameHasOwner(const char* name) {
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  gboolean owned = FALSE;
  if (reply != nullptr) g_variant_get(reply, "(b)", &owned);
  return owned == TRUE;
}

}  // namespace testsupport
