// The desktop's services for the app, for real: GIO's default handlers, chosen by a
// mimeapps.list of the test's own, and the widget reload as a signal on the session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/desktop/SystemOpener.h"
#include "platform/desktop/WidgetCenter.h"
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

TEST(WidgetCenter, EachReloadIsOneSignalWithoutArgumentsOnTheSessionBus) {
  // Listened for on the bus as a widget host would; each signal's argument types.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  Strings seen;
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus, nullptr, WidgetCenter::kInterface, WidgetCenter::kReloadSignal, WidgetCenter::kObjectPath, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      +[](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* arguments,
          gpointer out) { static_cast<Strings*>(out)->emplace_back(g_variant_get_type_string(arguments)); },
      &seen, nullptr);
  for (int i = 0; i < 3; ++i) WidgetCenter::shared().reloadAllTimelines();
  testsupport::spinUntil([&] { return seen.size() >= 3; });
  EXPECT_EQ(seen, Strings(3, "()"));
  g_dbus_connection_signal_unsubscribe(bus, subscription);
  g_object_unref(bus);
}

TEST(WidgetCenterDeathTest, WithoutASessionBusNothingHappens) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/sorn-test-bus", 1);
        WidgetCenter::shared().reloadAllTimelines();
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "^$");  // and nothing is logged
}

}  // namespace
