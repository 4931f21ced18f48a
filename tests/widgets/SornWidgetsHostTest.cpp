#include <cairo.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/HostWindow.h"
#include "platform/widgethost/LiveTimelines.h"
#include "platform/widgethost/ReloadSignalListener.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"

namespace widgets {
namespace {

using platform::widgethost::ReloadSignalListener;

// A private session bus for this test process and the programs it starts.
class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    // The test bus clears DISPLAY (against D-Bus autolaunch); the host needs it.
    const char* display = std::getenv("DISPLAY");
    const std::optional<std::string> saved =
        display != nullptr ? std::optional<std::string>(display) : std::nullopt;
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    if (saved) setenv("DISPLAY", saved->c_str(), 1);
  }
  void TearDown() override {
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
  }

 private:
  GTestDBus* bus_ = nullptr;
};

const auto* const kBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

bool spinUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void storeStats(std::int64_t voice, std::int64_t streak, std::int64_t best) {
  auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->setInteger(shared::keys::kVoiceSeconds, voice);
  store->setInteger(shared::keys::kStreakDays, streak);
  store->setInteger(shared::keys::kBestStreak, best);
  store->setString(shared::keys::kUsername, "ann");
  store->setDouble(shared::keys::kStatsUpdatedAt, 1700000000.5);
}

// Sends the app's reload request from a bus connection of its own, as another process.
void emitReload() {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(address, nullptr);
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  ASSERT_NE(connection, nullptr);
  EXPECT_TRUE(g_dbus_connection_emit_signal(connection, nullptr, ReloadSignalListener::objectPath,
                                            ReloadSignalListener::interfaceName,
                                            ReloadSignalListener::signalName, nullptr, nullptr));
  g_dbus_connection_flush_sync(connection, nullptr, nullptr);
  g_object_unref(connection);
}

bool shows(const platform::widgethost::LiveTimelines& timelines, std::size_t index,
           const std::string& content) {
  const platform::render::View* view = timelines.shownView(index);
  if (view == nullptr) return false;
  platform::render::ViewRenderer renderer;
  const auto size = platform::widgethost::displaySize(timelines.placed()[index].family);
  return platform::render::findText(renderer.layout(*view, size), content) != nullptr;
}

TEST(SornWidgetsHost, ReloadSignalAsksForNewTimelinesAndRedraws) {
  ASSERT_TRUE(gtk_init_check()) << "engine tests run under a virtual display (xvfb-run)";
  const testsupport::TempDataDir dir;
  storeStats(60, 3, 4);

  platform::widgethost::HostWindow* window = nullptr;
  platform::widgethost::LiveTimelines timelines(platform::widgethost::placeWidgets(SornWidgetBundle()),
                                                platform::widgethost::Clock::system(), [&window] {
                                                  if (window != nullptr) window->redraw();
                                                });
  platform::widgethost::HostWindow shown(timelines);
  window = &shown;
  ReloadSignalListener listener([&timelines] { timelines.reloadAll(); });
  ASSERT_TRUE(listener.listening());
  shown.present();

  // Streak small, Voice small, Voice medium, each asked once and drawn.
  ASSERT_EQ(timelines.placed().size(), 3U);
  ASSERT_TRUE(spinUntil([&] { return shown.framesDrawn() > 0; }, 10)) << "the window never drew";
  EXPECT_TRUE(shows(timelines, 0, "3"));
  EXPECT_TRUE(shows(timelines, 1, "1m"));
  EXPECT_TRUE(shows(timelines, 2, "4d"));
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(timelines.timelineRequests(i), 1);

  // New figures alone change nothing until the app asks for a reload.
  storeStats(7200, 12, 30);
  spinUntil([] { return false; }, 0.3);
  EXPECT_TRUE(shows(timelines, 1, "1m"));
  const int framesBefore = shown.framesDrawn();

  emitReload();
  ASSERT_TRUE(spinUntil([&] { return timelines.timelineRequests(2) == 2; }, 10)) << "no reload arrived";
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(timelines.timelineRequests(i), 2);
  EXPECT_TRUE(shows(timelines, 0, "12"));
  EXPECT_TRUE(shows(timelines, 0, "Best 30"));
  EXPECT_TRUE(shows(timelines, 1, "2.0h"));
  EXPECT_TRUE(shows(timelines, 2, "12d"));
  EXPECT_TRUE(spinUntil([&] { return shown.framesDrawn() > framesBefore; }, 10))
      << "no redraw after the reload";
}

struct ProgramRun {
  int status = -1;
  std::string output;
};

// The test's environment for a started program; under LeakSanitizer it is told about
// fontconfig's process-long configuration.
gchar** childEnvironment() {
  return g_environ_setenv(g_get_environ(), "LSAN_OPTIONS", "suppressions=" SORN_WIDGETS_LSAN_SUPPRESSIONS, FALSE);
}

// Runs sorn-widgets with extra environment settings ("NAME=value", or "NAME" to unset).
ProgramRun runProgram(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) {
  std::vector<const char*> argv{SORN_WIDGETS_BINARY};
  for (const auto& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  gchar** envp = childEnvironment();
  for (const std::string& setting : environment) {
    const auto equals = setting.find('=');
    envp = equals == std::string::npos ? g_environ_unsetenv(envp, setting.c_str())
                                       : g_environ_setenv(envp, setting.substr(0, equals).c_str(),
                                                          setting.substr(equals + 1).c_str(), TRUE);
  }
  gchar* out = nullptr;
  gchar* err = nullptr;
  ProgramRun run;
  GError* error = nullptr;
  g_spawn_sync(nullptr, const_cast<gchar**>(argv.data()), envp, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
               &run.status, &error);
  g_strfreev(envp);
  EXPECT_EQ(error, nullptr) << (error != nullptr ? error->message : "");
  if (error != nullptr) g_error_free(error);
  run.output = std::string(out != nullptr ? out : "") + (err != nullptr ? err : "");
  g_free(out);
  g_free(err);
  if (WIFEXITED(run.status)) run.status = WEXITSTATUS(run.status);
  return run;
}

TEST(SornWidgetsProgram, SnapshotWritesTheThreePlacedWidgets) {
  const testsupport::TempDataDir dir;
  storeStats(5400, 2, 9);
  for (const char* mode : {"--snapshot", "--gallery"}) {
    const auto out = dir.root() / mode;
    const ProgramRun run = runProgram({mode, out.string()}, {});
    ASSERT_EQ(run.status, 0) << run.output;
    struct Expected {
      const char* file;
      int width;
    };
    for (const Expected& expected :
         {Expected{"SornStreakWidget-systemSmall.png", 340}, Expected{"SornVoiceWidget-systemSmall.png", 340},
          Expected{"SornVoiceWidget-systemMedium.png", 728}}) {
      cairo_surface_t* png = cairo_image_surface_create_from_png((out / expected.file).c_str());
      EXPECT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS) << mode << " " << expected.file;
      EXPECT_EQ(cairo_image_surface_get_width(png), expected.width) << expected.file;
      EXPECT_EQ(cairo_image_surface_get_height(png), 340) << expected.file;
      cairo_surface_destroy(png);
    }
  }
}

TEST(SornWidgetsProgram, CommandLineAndDisplayErrors) {
  const testsupport::TempDataDir dir;
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{}, {"DISPLAY", "WAYLAND_DISPLAY"}, 1, "cannot open a display"},
      {{"--bogus"}, {}, 2, "unknown option '--bogus'"},
      {{"--snapshot"}, {}, 2, "--snapshot needs a folder"},
      {{"--help"}, {}, 0, "Usage: sorn-widgets"},
      // A folder that cannot be made is an error, not a silent success.
      {{"--snapshot", "/proc/no/such/folder"}, {}, 1, "cannot make the folder"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = runProgram(c.arguments, c.environment);
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
}

TEST(SornWidgetsProgram, WindowRunsUntilTerminated) {
  const testsupport::TempDataDir dir;
  const char* argv[] = {SORN_WIDGETS_BINARY, nullptr};
  GPid pid = 0;
  GError* error = nullptr;
  gchar** envp = childEnvironment();
  const bool started = g_spawn_async(nullptr, const_cast<gchar**>(argv), envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                     nullptr, &pid, &error) != FALSE;
  g_strfreev(envp);
  ASSERT_TRUE(started);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the host stopped on its own";
  emitReload();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGTERM);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  g_spawn_close_pid(pid);
}

TEST(SornWidgetsProgram, MetadataAndAutostartEntry) {
  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(file, SORN_WIDGETS_METADATA, G_KEY_FILE_NONE, nullptr));
  auto value = [file](const char* group, const char* key) {
    gchar* text = g_key_file_get_string(file, group, key, nullptr);
    std::string result = text != nullptr ? text : "(missing)";
    g_free(text);
    return result;
  };
  EXPECT_EQ(value("Extension", "Id"), "com.tarnwell.sorn.widgets");
  EXPECT_EQ(value("Extension", "ExtensionPoint"), "com.tarnwell.sorn.widgets");
  EXPECT_EQ(value("Extension", "Exec"), "sorn-widgets");
  EXPECT_EQ(value("Extension", "Entry"), "SornWidgetBundle");
  EXPECT_EQ(value("Extension", "AppGroup"), "group.com.tarnwell.sorn");
  EXPECT_EQ(value("Extension", "Widgets"), "SornStreakWidget;SornVoiceWidget;");
  EXPECT_EQ(value("Widget SornStreakWidget", "Name"), "Sorn Streak");
  EXPECT_EQ(value("Widget SornStreakWidget", "Description"), "Your current daily activity streak.");
  EXPECT_EQ(value("Widget SornStreakWidget", "Families"), "systemSmall;");
  EXPECT_EQ(value("Widget SornVoiceWidget", "Name"), "Sorn Voice Time");
  EXPECT_EQ(value("Widget SornVoiceWidget", "Description"),
            "Total time you've spent in voice, plus your streak.");
  EXPECT_EQ(value("Widget SornVoiceWidget", "Families"), "systemSmall;systemMedium;");
  g_key_file_free(file);

  const std::string validate = std::string("desktop-file-validate '") + SORN_WIDGETS_AUTOSTART + "'";
  EXPECT_EQ(std::system(validate.c_str()), 0);
}

}  // namespace
}  // namespace widgets
