// The widget reload as a real signal on the test's session bus.
#include <gtest/gtest.h>

#include <gio/gio.h>

#include <chrono>
#include <cstdlib>

#include "platform/desktop/WidgetCenter.h"
#include "tests/platform/desktop/ReloadSignalListener.h"

namespace {

bool spinUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

TEST(WidgetCenter, EachReloadIsOneArgumentlessSignalOnTheSessionBus) {
  desktoptest::ReloadSignalListener listener;
  platform::desktop::WidgetCenter::shared().reloadAllTimelines();
  platform::desktop::WidgetCenter::shared().reloadAllTimelines();
  platform::desktop::WidgetCenter::shared().reloadAllTimelines();
  ASSERT_TRUE(spinUntil([&] { return listener.count() >= 3; })) << "seen: " << listener.count();
  EXPECT_EQ(listener.withArguments(), 0);
}

TEST(WidgetCenterDeathTest, WithoutASessionBusNothingHappens) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sorn-test-bus", 1);
        platform::desktop::WidgetCenter::shared().reloadAllTimelines();
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
