#include <cairo.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/gobject/ObjectRef.h"
#include "platform/render/ViewRenderer.h"
#include "platform/widgethost/LiveHost.h"
#include "shared/Constants.h"
#include "shared/SharedStore.h"
#include "shared/StoreKeys.h"
#include "tests/support/MainLoopSpin.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempDataDir.h"
#include "widgets/SornWidgetBundle.h"

namespace widgets {
namespace {

using namespace std::chrono_literals;
using platform::widgethost::ReloadSignalListener;
using testsupport::spinUntil;

const auto* const kBus = ::testing::AddGlobalTestEnvironment(new testsupport::PrivateBus);

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

// A session-bus connection of the test's own, as the app's is to the widget host.
platform::gobject::ObjectRef<GDBusConnection> appConnection() {
  g_autofree gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  return platform::gobject::ObjectRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr));
}

// Sends `count` reload requests as fast as the bus takes them.
void floodReloads(GDBusConnection* connection, int count) {
  for (int i = 0; i < count; ++i) {
    g_dbus_connection_emit_signal(connection, nullptr, ReloadSignalListener::objectPath,
                                  ReloadSignalListener::interfaceName, ReloadSignalListener::signalName,
                                  nullptr, nullptr);
  }
  g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}

bool shows(const platform::widgethost::LiveTimelines& timelines, std::size_t index,
           const std::string& content) {
  const platform::render::View* view = timelines.shownView(index);
  const auto size = platform::widgethost::displaySize(timelines.placed()[index].family);
  return view != nullptr &&
         platform::render::findText(platform::render::ViewRenderer().layout(*view, size), content) != nullptr;
}

TEST(SornWidgetsHost, ReloadSignalAsksForNewTimelinesAndRedrawsAtMostOnceAFrame) {
  ASSERT_TRUE(gtk_init_check()) << "engine tests run under a virtual display (xvfb-run)";
  const testsupport::TempDataDir dir;
  storeStats(60, 3, 4);
  platform::widgethost::LiveHost host(platform::widgethost::placeWidgets(SornWidgetBundle()),
                                      platform::widgethost::Clock::system());
  const auto& timelines = host.timelines();
  auto& shown = host.window();
  ASSERT_TRUE(host.listening());
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

  // Thousands of requests while the figures keep changing: no more reloads than frames
  // drawn, and the figures stored last are the ones shown.
  const int requestsBeforeFlood = timelines.timelineRequests(0);
  const int framesBeforeFlood = shown.framesDrawn();
  constexpr int kRounds = 20;
  std::atomic<bool> sent = false;
  std::thread app([&sent] {
    const auto connection = appConnection();
    for (int round = 1; round <= kRounds; ++round) {
      storeStats(round * 3600, round, 2 * kRounds);
      floodReloads(connection.get(), 200);
    }
    sent = true;
  });
  const bool showsTheLastFigures = spinUntil(
      [&] {
        return sent && shows(timelines, 0, std::to_string(kRounds)) &&
               shows(timelines, 1, std::to_string(kRounds) + ".0h") &&
               shows(timelines, 2, std::to_string(kRounds) + "d");
      },
      60s);
  app.join();
  EXPECT_TRUE(showsTheLastFigures);
  const int reloads = timelines.timelineRequests(0) - requestsBeforeFlood;
  EXPECT_GE(reloads, 1);
  EXPECT_LE(reloads, shown.framesDrawn() - framesBeforeFlood + 1);
}

TEST(SornWidgetsProgram, SnapshotsAndCommandLineErrors) {
  const testsupport::TempDataDir dir;
  storeStats(5400, 2, 9);
  const std::string out = dir.root().string();
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {SORN_WIDGETS_BINARY " --snapshot=" + out + "/snapshot", 0, ""},
      {SORN_WIDGETS_BINARY " --gallery " + out + "/gallery", 0, ""},
      {"env -u DISPLAY -u WAYLAND_DISPLAY " SORN_WIDGETS_BINARY, 1, "cannot open a display"},
      {SORN_WIDGETS_BINARY " --bogus", 2, "sorn-widgets: Unknown option --bogus"},
      {SORN_WIDGETS_BINARY " stray", 2, "sorn-widgets: Unexpected argument 'stray'."},
      {SORN_WIDGETS_BINARY " --snapshot", 2, "Missing argument for --snapshot"},
      {SORN_WIDGETS_BINARY " --gallery=", 2, "--gallery needs a folder."},
      {SORN_WIDGETS_BINARY " --snapshot a --gallery b", 2, "Only one of --snapshot and --gallery"},
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

TEST(SornWidgetsProgram, AStoreThatCannotBeOpenedIsLoggedOnlyWhenAskedFor) {
  const testsupport::TempDataDir dir;
  const auto folder = dir.suiteFolder(shared::kSuiteName);
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  const std::string snapshot = SORN_WIDGETS_BINARY " --snapshot " + (dir.root() / "out").string();
  const auto [quietStatus, quiet] = run("env -u G_MESSAGES_DEBUG " + snapshot);
  EXPECT_EQ(quietStatus, 0);
  EXPECT_EQ(quiet, "");
  const auto [status, logged] = run("env G_MESSAGES_DEBUG=sorn " + snapshot);
  EXPECT_EQ(status, 0);  // the widgets show their placeholder
  EXPECT_NE(logged.find("sorn-DEBUG"), std::string::npos) << logged;
  EXPECT_NE(logged.find("The store " + folder.string() + "/suite.sqlite3 cannot be opened"),
            std::string::npos)
      << logged;
}

TEST(SornWidgetsProgram, WindowRunsUntilTerminatedOrInterruptedAlsoInAFloodOfReloads) {
  const testsupport::TempDataDir dir;
  storeStats(60, 3, 4);
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    const char* argv[] = {SORN_WIDGETS_BINARY, nullptr};
    GPid pid = 0;
    ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                              nullptr, &pid, nullptr));
    std::this_thread::sleep_for(1500ms);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the host stopped on its own";
    emitReload();
    std::atomic<bool> flooding = true;
    std::thread app([&flooding] {
      const auto connection = appConnection();
      while (flooding) floodReloads(connection.get(), 500);
    });
    std::this_thread::sleep_for(1s);
    kill(pid, stopSignal);
    // Ends within a generous bound, or is stopped for good.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    bool ended = false;
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
    }
    flooding = false;
    app.join();
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended) << "signal " << stopSignal << " did not end the host";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    g_spawn_close_pid(pid);
  }
}

TEST(SornWidgetsProgram, ASecondStartHandsOverToTheRunningHostAndSnapshotsStillRun) {
  const testsupport::TempDataDir dir;
  const char* argv[] = {SORN_WIDGETS_BINARY, nullptr};
  GPid first = 0;
  ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                            nullptr, &first, nullptr));
  EXPECT_TRUE(spinUntil([] { return testsupport::busNameHasOwner("com.tarnwell.sorn.Widgets"); }, 10s));
  EXPECT_EQ(run("timeout 20 " SORN_WIDGETS_BINARY).first, 0);  // hands over and ends, runs no host
  const auto [status, output] = run(SORN_WIDGETS_BINARY " --snapshot " + dir.root().string());
  EXPECT_EQ(status, 0) << output;
  EXPECT_TRUE(std::filesystem::exists(dir.root() / "SornVoiceWidget-systemMedium.png"));
  int firstStatus = 0;
  EXPECT_EQ(waitpid(first, &firstStatus, WNOHANG), 0) << "the running host ended";
  kill(first, SIGTERM);
  waitpid(first, &firstStatus, 0);
  EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0) << firstStatus;
  g_spawn_close_pid(first);
}

// The autostart entry is checked as installed, by tests/e2e/installed.sh.
TEST(SornWidgetsProgram, Metadata) {
  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(file, SORN_WIDGETS_METADATA, G_KEY_FILE_NONE, nullptr));
  const std::vector<std::tuple<const char*, const char*, std::string>> entries = {
      {"Extension", "Id", "com.tarnwell.sorn.widgets"},
      {"Extension", "ExtensionPoint", "com.tarnwell.sorn.widgets"},
      {"Extension", "Exec", "../../../bin/sorn-widgets"},
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
}

}  // namespace
}  // namespace widgets
