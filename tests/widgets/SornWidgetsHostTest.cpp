#include <cairo.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/HostWindow.h"
#include "platform/widgethost/LiveTimelines.h"
#include "platform/widgethost/ReloadSignalListener.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/MainLoopSpin.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"

namespace widgets {
namespace {

using namespace std::chrono_literals;
using platform::widgethost::ReloadSignalListener;
using testsupport::spinUntil;

// A session bus of this test's own, for it and the programs it starts: other tests
// that send the reload signal at the same time must not reach it.
class PrivateBus : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string display = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);  // clears DISPLAY (against autolaunch); the host needs it
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    // Programs started under LeakSanitizer are told about fontconfig's process-long
    // configuration.
    setenv("LSAN_OPTIONS", "suppressions=" SORN_WIDGETS_LSAN_SUPPRESSIONS, 0);
  }
  void TearDown() override {
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
  }

 private:
  GTestDBus* bus_ = nullptr;
};
const auto* const kBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

void storeStats(std::int64_t voice, std::int64_t streak, std::int64_t best) {
  const auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->setInteger(shared::keys::kVoiceSeconds, voice);
  store->setInteger(shared::keys::kStreakDays, streak);
  store->setInteger(shared::keys::kBestStreak, best);
}

// Runs a command line to its end: the exit status and everything it wrote.
std::pair<int, std::string> run(const std::string& commandLine) {
  gchar *out = nullptr, *err = nullptr;
  int status = -1;
  EXPECT_TRUE(g_spawn_command_line_sync(commandLine.c_str(), &out, &err, &status, nullptr)) << commandLine;
  std::string output = std::string(out != nullptr ? out : "") + (err != nullptr ? err : "");
  g_free(out);
  g_free(err);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// The app's reload request, sent from another process.
void emitReload() {
  EXPECT_EQ(run(std::string("gdbus emit --session --object-path ") + ReloadSignalListener::objectPath +
                " --signal " + ReloadSignalListener::interfaceName + "." + ReloadSignalListener::signalName)
                .first,
            0);
}

bool shows(const platform::widgethost::LiveTimelines& timelines, std::size_t index,
           const std::string& content) {
  const platform::render::View* view = timelines.shownView(index);
  const auto size = platform::widgethost::displaySize(timelines.placed()[index].family);
  return view != nullptr &&
         platform::render::findText(platform::render::ViewRenderer().layout(*view, size), content) != nullptr;
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
  ASSERT_TRUE(spinUntil([&] { return shown.framesDrawn() > 0; }, 10s)) << "the window never drew";
  EXPECT_TRUE(shows(timelines, 0, "3") && shows(timelines, 1, "1m") && shows(timelines, 2, "4d"));
  // New figures alone change nothing until the app asks for a reload.
  storeStats(7200, 12, 30);
  spinUntil([] { return false; }, 300ms);
  EXPECT_TRUE(shows(timelines, 1, "1m"));
  const int framesBefore = shown.framesDrawn();
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(timelines.timelineRequests(i), 1);

  emitReload();
  ASSERT_TRUE(spinUntil([&] { return timelines.timelineRequests(2) == 2; }, 10s)) << "no reload arrived";
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(timelines.timelineRequests(i), 2);
  EXPECT_TRUE(shows(timelines, 0, "12") && shows(timelines, 0, "Best 30"));
  EXPECT_TRUE(shows(timelines, 1, "2.0h") && shows(timelines, 2, "12d"));
  EXPECT_TRUE(spinUntil([&] { return shown.framesDrawn() > framesBefore; }, 10s))
      << "no redraw after the reload";
}

TEST(SornWidgetsProgram, SnapshotsAndCommandLineErrors) {
  const testsupport::TempDataDir dir;
  storeStats(5400, 2, 9);
  const std::string out = dir.root().string();
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {SORN_WIDGETS_BINARY " --snapshot=" + out + "/snapshot", 0, ""},
      {SORN_WIDGETS_BINARY " --gallery " + out + "/gallery", 0, ""},
      {"env -u DISPLAY -u WAYLAND_DISPLAY " SORN_WIDGETS_BINARY, 1, "cannot open a display"},
      {SORN_WIDGETS_BINARY " --help", 0, "Usage: sorn-widgets"},
      {SORN_WIDGETS_BINARY " --bogus", 2, "unknown option '--bogus'"},
      {SORN_WIDGETS_BINARY " stray", 2, "unknown option 'stray'"},
      {SORN_WIDGETS_BINARY " --snapshot", 2, "--snapshot needs a folder"},
      {SORN_WIDGETS_BINARY " --gallery=", 2, "--gallery needs a folder"},
      {SORN_WIDGETS_BINARY " --snapshot a --gallery b", 2, "only one of --snapshot and --gallery"},
      // A folder that cannot be made is an error, not a silent success.
      {SORN_WIDGETS_BINARY " --snapshot /proc/no/such/folder", 1, "cannot make the folder"},
  };
  for (const auto& [commandLine, expectedStatus, says] : cases) {
    const auto [status, output] = run(commandLine);
    EXPECT_EQ(status, expectedStatus) << commandLine << ": " << output;
    EXPECT_NE(output.find(says), std::string::npos) << commandLine << ": " << output;
  }
  // One picture per placed widget, two pixels a point.
  for (const char* folder : {"/snapshot/", "/gallery/"}) {
    for (const auto& [file, width] : {std::pair{"SornStreakWidget-systemSmall.png", 340},
                                      {"SornVoiceWidget-systemSmall.png", 340},
                                      {"SornVoiceWidget-systemMedium.png", 728}}) {
      cairo_surface_t* png = cairo_image_surface_create_from_png((out + folder + file).c_str());
      EXPECT_EQ(std::tuple(cairo_surface_status(png), cairo_image_surface_get_width(png),
                           cairo_image_surface_get_height(png)),
                std::tuple(CAIRO_STATUS_SUCCESS, width, 340))
          << folder << file;
      cairo_surface_destroy(png);
    }
  }
}

TEST(SornWidgetsProgram, WindowRunsUntilTerminated) {
  const testsupport::TempDataDir dir;
  const char* argv[] = {SORN_WIDGETS_BINARY, nullptr};
  GPid pid = 0;
  ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                            nullptr, &pid, nullptr));
  std::this_thread::sleep_for(1500ms);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the host stopped on its own";
  emitReload();
  std::this_thread::sleep_for(300ms);
  kill(pid, SIGTERM);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  g_spawn_close_pid(pid);
}

TEST(SornWidgetsProgram, MetadataAndAutostartEntry) {
  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(file, SORN_WIDGETS_METADATA, G_KEY_FILE_NONE, nullptr));
  const std::vector<std::tuple<const char*, const char*, std::string>> entries = {
      {"Extension", "Id", "com.tarnwell.sorn.widgets"},
      {"Extension", "ExtensionPoint", "com.tarnwell.sorn.widgets"},
      {"Extension", "Exec", "sorn-widgets"},
      {"Extension", "Entry", "SornWidgetBundle"},
      {"Extension", "AppGroup", "group.com.tarnwell.sorn"},
      {"Extension", "Widgets", "SornStreakWidget;SornVoiceWidget;"},
      {"Widget SornStreakWidget", "Name", "Sorn Streak"},
      {"Widget SornStreakWidget", "Description", "Your current daily activity streak."},
      {"Widget SornStreakWidget", "Families", "systemSmall;"},
      {"Widget SornVoiceWidget", "Name", "Sorn Voice Time"},
      {"Widget SornVoiceWidget", "Description", "Total time you've spent in voice, plus your streak."},
      {"Widget SornVoiceWidget", "Families", "systemSmall;systemMedium;"},
  };
  for (const auto& [group, key, expected] : entries) {
    gchar* value = g_key_file_get_string(file, group, key, nullptr);
    EXPECT_EQ(value != nullptr ? std::string(value) : "(missing)", expected) << group << " " << key;
    g_free(value);
  }
  g_key_file_free(file);
  EXPECT_EQ(run("desktop-file-validate " SORN_WIDGETS_AUTOSTART).first, 0);
}

}  // namespace
}  // namespace widgets
