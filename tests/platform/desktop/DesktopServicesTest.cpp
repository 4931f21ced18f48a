// The desktop's services for the app, for real: GIO's default handlers, chosen by a
// mimeapps.list of the test's own, and the widget reload as a signal on the session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/desktop/SystemOpener.h"
#include "platform/desktop/WidgetCenter.h"
#include "platform/gobject/ObjectRef.h"
#include "tests/support/MainLoopSpin.h"
#include "tests/support/TempDataDir.h"

namespace {

using platform::desktop::WidgetCenter;
using Strings = std::vector<std::string>;

TEST(SystemOpener, HandsWebMailAndPhoneUrlsToTheDefaultHandlerAndDropsEveryOtherScheme) {
  // GLib reads the XDG folders once per process, so they are set before its first use.
  const testsupport::TempDataDir dir;
  const std::string root = dir.root().string();
  setenv("XDG_CONFIG_HOME", root.c_str(), 1);
  setenv("XDG_DATA_DIRS", (root + "/nothing-else").c_str(), 1);
  std::filesystem::create_directories(dir.dataHome() / "applications");
  std::ofstream(root + "/recorder") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << root << "/opened'\n";
  std::filesystem::permissions(root + "/recorder", std::filesystem::perms::owner_all);
  std::ofstream(root + "/notes.txt") << "local\n";
  // One recording handler is the default for every scheme used here, also for those that
  // must never reach it, and for the text file a file: URL would open.
  std::ofstream entry(dir.dataHome() / "applications" / "recorder.desktop");
  std::ofstream defaults(root + "/mimeapps.list");
  entry << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << root << "/recorder %u\nMimeType=";
  defaults << "[Default Applications]\n";
  for (const std::string type :
       {"http", "https", "mailto", "tel", "sms", "ssh", "sornlocal", "javascript", ""}) {
    const std::string mimeType = type.empty() ? "text/plain" : "x-scheme-handler/" + type;
    entry << mimeType << ';';
    defaults << mimeType << "=recorder.desktop\n";
  }
  entry << std::endl;
  defaults << std::flush;

  auto& opener = platform::desktop::SystemOpener::shared();
  for (const std::string url :
       {"ssh://host.example/", "sornlocal:run", "javascript:alert(1)", "not a url", ""}) {
    opener.openExternally(url);
  }
  opener.openExternally("file://" + root + "/notes.txt");
  Strings leaving = {"https://example.org/a?b=c",
                     "http://example.org/",
                     "mailto:help@example.org",
                     "tel:+15550100",
                     "sms:+15550100",
                     "HTTPS://Example.org/upper"};
  for (const auto& url : leaving) opener.openExternally(url);
  Strings opened;
  testsupport::spinUntil([&] {
    std::ifstream in(root + "/opened");
    opened.clear();
    for (std::string line; std::getline(in, line);) opened.push_back(line);
    return opened.size() >= leaving.size();
  });
  std::sort(opened.begin(), opened.end());
  std::sort(leaving.begin(), leaving.end());
  EXPECT_EQ(opened, leaving);
}

// The signals of the widget centre's interface that reach a session-bus connection of
// its own, as a widget host's would: member and argument types of each.
class BusListener {
 public:
  BusListener() {
    g_autofree gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    connection_ = platform::gobject::ObjectRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
    if (!connection_) return;
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_.get(), nullptr, WidgetCenter::kInterface, nullptr, WidgetCenter::kObjectPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        +[](GDBusConnection*, const char*, const char*, const char*, const char* member, GVariant* arguments,
            gpointer out) {
          static_cast<Strings*>(out)->push_back(std::string(member) + g_variant_get_type_string(arguments));
        },
        &seen, nullptr);
    // The bus answers in order, so once this returns it routes the signals here.
    g_autoptr(GVariant) id = g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
        nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  }
  ~BusListener() {
    if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_);
  }
  BusListener(const BusListener&) = delete;
  BusListener& operator=(const BusListener&) = delete;

  [[nodiscard]] bool listening() const { return subscription_ != 0; }
  // Waits until `count` signals came.
  bool waitFor(std::size_t count) {
    return testsupport::spinUntil([&] { return seen.size() >= count; }, std::chrono::seconds(10));
  }

  Strings seen;

 private:
  platform::gobject::ObjectRef<GDBusConnection> connection_;
  guint subscription_ = 0;
};

std::size_t threadCount() {
  const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(WidgetCenter, ABurstOfReloadsIsOneSignalAndEachLaterReloadOneMore) {
  BusListener listener;
  ASSERT_TRUE(listener.listening());
  const std::size_t threadsBefore = threadCount();
  for (int i = 0; i < 200; ++i) WidgetCenter::shared().reloadAllTimelines();
  ASSERT_TRUE(listener.waitFor(1)) << "the burst sent nothing";
  constexpr std::size_t kLater = 12;
  for (std::size_t i = 1; i <= kLater; ++i) {
    WidgetCenter::shared().reloadAllTimelines();
    ASSERT_TRUE(listener.waitFor(1 + i)) << "reload " << i << " after the burst sent nothing";
  }
  // Signals from one connection arrive in order: once this mark is in, any other
  // signal of the burst would be too.
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  g_dbus_connection_emit_signal(bus, nullptr, WidgetCenter::kObjectPath, WidgetCenter::kInterface, "Mark",
                                nullptr, nullptr);
  ASSERT_TRUE(listener.waitFor(2 + kLater));
  Strings expected(1 + kLater, std::string(WidgetCenter::kReloadSignal) + "()");
  expected.emplace_back("Mark()");
  EXPECT_EQ(listener.seen, expected);
  // A bus connection of its own and a lookup at most; no thread per reload.
  EXPECT_LE(threadCount(), threadsBefore + 4);
}

TEST(WidgetCenterDeathTest, WithoutASessionBusNothingHappensUntilOneTurnsUp) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char* sessionBus = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  ASSERT_NE(sessionBus, nullptr) << "engine tests run with a session bus (dbus-run-session)";
  const std::string address = sessionBus;
  EXPECT_EXIT(
      {
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sorn-test-bus", 1);
        bool noted = false;
        g_log_set_handler(
            "sorn", G_LOG_LEVEL_DEBUG,
            +[](const gchar*, GLogLevelFlags, const gchar*, gpointer flag) {
              *static_cast<bool*>(flag) = true;
            },
            &noted);
        WidgetCenter::shared().reloadAllTimelines();
        if (!testsupport::spinUntil([&] { return noted; }, std::chrono::seconds(10))) std::_Exit(1);
        // The bus is looked for again at the next request.
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        BusListener listener;
        WidgetCenter::shared().reloadAllTimelines();
        std::_Exit(listener.waitFor(1) ? 0 : 2);
      },
      testing::ExitedWithCode(0), "^$");  // and nothing is printed
}

}  // namespace
