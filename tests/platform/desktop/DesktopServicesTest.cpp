// The desktop's services for the app, for real: GIO's default handlers, chosen by a
// mimeapps.list of the test's own, and the widget reload as a signal on the session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/desktop/SystemOpener.h"
#include "platform/desktop/WidgetCenter.h"
#include "tests/support/MainLoopSpin.h"
#include "tests/support/TempDataDir.h"

namespace {

using namespace std::chrono_literals;
using platform::desktop::WidgetCenter;
using Strings = std::vector<std::string>;

TEST(SystemOpener, HandsWebMailAndPhoneUrlsToTheDefaultHandlerAndDropsEveryOtherScheme) {
  // GLib reads the XDG folders once per process, so they are set before its first use.
  const testsupport::TempDataDir dir;
  const std::string root = dir.root().string();
  setenv("XDG_CONFIG_HOME", root.c_str(), 1);
  setenv("XDG_DATA_DIRS", (root + "/nothing-else").c_str(), 1);
  std::ofstream(root + "/recorder") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << root << "/opened'\n";
  std::filesystem::permissions(root + "/recorder", std::filesystem::perms::owner_all);
  std::ofstream(root + "/notes.txt") << "local\n";
  // One recording handler is the default for every scheme used here, also for those that
  // must never reach it, and for the text file a file: URL would open.
  g_autoptr(GAppInfo) recorder = g_app_info_create_from_commandline((root + "/recorder").c_str(), "Recorder",
                                                                    G_APP_INFO_CREATE_SUPPORTS_URIS, nullptr);
  for (const std::string type :
       {"http", "https", "mailto", "tel", "sms", "ssh", "sornlocal", "javascript", ""})
    g_app_info_set_as_default_for_type(
        recorder, (type.empty() ? "text/plain" : "x-scheme-handler/" + type).c_str(), nullptr);

  // clang-format off
  const Strings leaving = {"HTTPS://Example.org/upper", "http://example.org/", "https://example.org/a?b=c",
                           "mailto:help@example.org", "sms:+15550100", "tel:+15550100"};  // sorted
  for (const std::string& url : Strings{"ssh://host.example/", "sornlocal:run", "javascript:alert(1)", "not a url", "",
                                        "file://" + root + "/notes.txt"})
    platform::desktop::SystemOpener::shared().openExternally(url);
  // clang-format on
  for (const auto& url : leaving) platform::desktop::SystemOpener::shared().openExternally(url);
  Strings opened;
  testsupport::spinUntil([&] {
    std::ifstream in(root + "/opened");
    opened.clear();
    for (std::string line; std::getline(in, line);) opened.push_back(line);
    return opened.size() >= leaving.size();
  });
  std::ranges::sort(opened);
  EXPECT_EQ(opened, leaving);
}

std::size_t threadCount() {
  const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

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
  const std::size_t threadsBefore = threadCount();
  for (std::size_t burst = 1; burst <= 2; ++burst) {  // while the bus is looked for, and once it is known
    for (int i = 0; i < 200; ++i) WidgetCenter::shared().reloadAllTimelines();
    ASSERT_TRUE(waitFor(burst)) << "burst " << burst << " sent nothing";
  }
  constexpr std::size_t kLater = 12;
  for (std::size_t i = 1; i <= kLater; ++i) {
    WidgetCenter::shared().reloadAllTimelines();
    ASSERT_TRUE(waitFor(2 + i)) << "reload " << i << " after the bursts sent nothing";
  }
  // Signals from one connection arrive in order: once this mark is in, any other signal
  // of the burst would be too.
  g_dbus_connection_emit_signal(bus, nullptr, WidgetCenter::kObjectPath, WidgetCenter::kInterface, "Mark",
                                nullptr, nullptr);
  ASSERT_TRUE(waitFor(3 + kLater));
  Strings expected(2 + kLater, std::string(WidgetCenter::kReloadSignal) + "()");
  expected.emplace_back("Mark()");
  EXPECT_EQ(seen, expected);
  EXPECT_LE(threadCount(), threadsBefore + 4) << "a thread per reload";
  g_dbus_connection_signal_unsubscribe(bus, subscription);
}

}  // namespace
