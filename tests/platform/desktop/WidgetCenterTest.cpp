// The widget reload as the app sends it: a signal on a session bus of the test's own.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/desktop/WidgetCenter.h"
#include "tests/support/MainLoopSpin.h"

namespace {

using namespace std::chrono_literals;
using platform::desktop::WidgetCenter;
using Strings = std::vector<std::string>;

TEST(WidgetCenter, WithoutABusNothingHappensThenABurstOfReloadsIsOneSignalAndEachLaterReloadOneMore) {
  const std::string address = g_getenv("DBUS_SESSION_BUS_ADDRESS");  // set, or engine tests skip
  // Without a bus the request is only noted for debugging.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sorn-test-bus", 1);
  int logged = 0;
  g_log_set_handler(
      "sorn", G_LOG_LEVEL_MASK,
      +[](const gchar*, GLogLevelFlags level, const gchar*, gpointer out) {
        *static_cast<int*>(out) |= level;
      },
      &logged);
  WidgetCenter::shared().reloadAllTimelines();
  ASSERT_TRUE(testsupport::spinUntil([&] { return logged != 0; }, 10s));
  EXPECT_EQ(logged, G_LOG_LEVEL_DEBUG);

  // The bus is looked for again at the next request. The signals of the widget centre's
  // interface that reach the bus connection (the process's own), member and argument types.
  setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  Strings seen;
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus, nullptr, WidgetCenter::kInterface, nullptr, WidgetCenter::kObjectPath, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      +[](GDBusConnection*, const char*, const char*, const char*, const char* member, GVariant* arguments,
          gpointer out) {
        static_cast<Strings*>(out)->push_back(std::string(member) + g_variant_get_type_string(arguments));
      },
      &seen, nullptr);
  const auto waitFor = [&seen](std::size_t count) {
    return testsupport::spinUntil([&] { return seen.size() >= count; }, 10s);
  };
  const auto threads = [] {
    return std::ranges::distance(std::filesystem::directory_iterator("/proc/self/task"));
  };
  const auto threadsBefore = threads();
  // Two bursts, while the bus is looked for and once it is known, then single requests.
  constexpr std::size_t kRounds = 14;
  for (std::size_t round = 1; round <= kRounds; ++round) {
    for (int i = 0; i < (round <= 2 ? 200 : 1); ++i) WidgetCenter::shared().reloadAllTimelines();
    ASSERT_TRUE(waitFor(round)) << "round " << round << " sent nothing";
  }
  // Signals from one connection arrive in order: once this mark is in, any other signal
  // of the burst would be too.
  g_dbus_connection_emit_signal(bus, nullptr, WidgetCenter::kObjectPath, WidgetCenter::kInterface, "Mark",
                                nullptr, nullptr);
  ASSERT_TRUE(waitFor(kRounds + 1));
  Strings expected(kRounds, std::string(WidgetCenter::kReloadSignal) + "()");
  expected.emplace_back("Mark()");
  EXPECT_EQ(seen, expected);
  EXPECT_LE(threads(), threadsBefore + 4) << "a thread per reload";
  g_dbus_connection_signal_unsubscribe(bus, subscription);
}

}  // namespace
