// The widget host as it runs: its window mode's wiring (LiveHost) in-process, and the
// sorn-widgets program itself, on a session bus of the test's own.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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
const char* const kPictures[] = {"SornStreakWidget-systemSmall.png", "SornVoiceWidget-systemSmall.png",
                                 "SornVoiceWidget-systemMedium.png"};

void storeStats(std::int64_t voice, std::int64_t streak, std::int64_t best) {
  const auto store = shared::SharedStore::open();
  ASSERT_TRUE(store);
  store->write(shared::StoreChanges()
                   .setInteger(shared::keys::kVoiceSeconds, voice)
                   .setInteger(shared::keys::kStreakDays, streak)
                   .setInteger(shared::keys::kBestStreak, best));
}

// Runs a command line to its end: the exit status and everything it wrote.
std::pair<int, std::string> run(const std::string& commandLine) {
  g_autofree gchar* out = nullptr;
  g_autofree gchar* err = nullptr;
  int status = -1;
  EXPECT_TRUE(g_spawn_command_line_sync(commandLine.c_str(), &out, &err, &status, nullptr)) << commandLine;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out ? out : "") + (err ? err : "")};
}

// Sends `count` reload requests as fast as the bus takes them.
void sendReloads(int count) {
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    g_dbus_connection_emit_signal(bus, nullptr, ReloadSignalListener::objectPath,
                                  ReloadSignalListener::interfaceName, ReloadSignalListener::signalName,
                                  nullptr, nullptr);
  }
  g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

bool shows(const platform::widgethost::LiveTimelines& timelines, std::size_t index,
           const std::string& content) {
  const platform::render::View* view = timelines.shownView(index);
  const auto size = platform::widgethost::displaySize(timelines.placed()[index].family);
  return view != nullptr &&
         platform::render::findText(platform::render::ViewRenderer().layout(*view, size), content) != nullptr;
}

// A PNG file against its reference picture: the same size, a mean difference per channel
// under 0.5 of 255, and fewer than 231 pixels (0.2 % of a small widget's) 19 % apart.
testing::AssertionResult looksLike(const std::string& file, const std::string& name) {
  const std::string reference = SORN_WIDGETS_REFERENCE_DIR "/" + name,
                    files = " " + file + " " + reference + " null:";
  const auto size = [](const std::string& png) { return run("identify -format %wx%h " + png).second; };
  const std::string mean = run("compare -metric MAE" + files).second;
  const std::string off = run("compare -metric AE -fuzz 19%" + files).second;
  if (size(file) == size(reference) && std::stod(mean.substr(mean.find('(') + 1)) < 0.5 / 255 &&
      std::stod(off) < 231)
    return testing::AssertionSuccess() << file;
  return testing::AssertionFailure() << file << ": " << size(file) << ", mean " << mean << ", pixels off "
                                     << off;
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

  // Thousands of requests while the figures keep changing: every widget reloads, no more
  // often than frames are drawn, and the figures stored last are the ones shown.
  const int framesBefore = shown.framesDrawn();
  constexpr int kRounds = 20;
  std::atomic<bool> sent = false;
  std::thread app([&sent] {
    for (int round = 1; round <= kRounds; ++round) {
      storeStats(round * 3600, round, 2 * kRounds);
      sendReloads(200);
    }
    sent = true;
  });
  const bool showsTheLastFigures = spinUntil(
      [&] {
        return sent && shows(timelines, 0, std::to_string(kRounds)) &&
               shows(timelines, 1, std::to_string(kRounds) + ".0h") &&
               shows(timelines, 2, std::to_string(kRounds) + "d") && shown.framesDrawn() > framesBefore;
      },
      60s);
  app.join();
  EXPECT_TRUE(showsTheLastFigures);
  const int reloads = timelines.timelineRequests(0) - 1;
  EXPECT_GE(reloads, 1);
  EXPECT_LE(reloads, shown.framesDrawn() - framesBefore + 1);
  for (std::size_t i = 1; i < 3; ++i) EXPECT_EQ(timelines.timelineRequests(i), reloads + 1);
}

TEST(SornWidgetsProgram, PicturesOfTheWidgetsAndCommandLineErrors) {
  const testsupport::TempDataDir dir;
  storeStats(5400, 2, 9);
  // A data folder whose suite others may read: the store refuses to open it.
  const std::string out = dir.root().string(), closed = out + "/closed";
  std::filesystem::create_directories(closed + "/app-groups/" + shared::kSuiteName);
  std::filesystem::permissions(closed + "/app-groups/" + shared::kSuiteName,
                               std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  const std::string program = " " SORN_WIDGETS_BINARY, withoutStore = " XDG_DATA_HOME=" + closed;
  // The command line, its exit status and a part of what it writes (after "!": must not write).
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"env" + program + " --snapshot=" + out + "/snapshot", 0, ""},
      {"env" + program + " --gallery " + out + "/gallery", 0, ""},
      {"env -u G_MESSAGES_DEBUG" + withoutStore + program + " --snapshot " + out + "/placeholder", 0,
       "!cannot be opened"},
      // Logged only when asked for; the widgets show their placeholder.
      {"env G_MESSAGES_DEBUG=sorn" + withoutStore + program + " --snapshot " + out + "/logged", 0,
       "The store " + closed + "/app-groups/" + shared::kSuiteName + "/suite.sqlite3 cannot be opened"},
      {"env -u DISPLAY -u WAYLAND_DISPLAY" + program, 1, "cannot open a display"},
      {"env" + program + " stray", 2, "sorn-widgets: Unexpected argument 'stray'."},
      {"env" + program + " --snapshot", 2, "Missing argument for --snapshot"},
      {"env" + program + " --gallery=", 2, "--gallery needs a folder."},
      {"env" + program + " --snapshot a --gallery b", 2, "Only one of --snapshot and --gallery"},
      // A folder that cannot be made is an error, not a silent success.
      {"env" + program + " --snapshot /proc/no/such/folder", 1, "cannot make the folder"},
  };
  for (const auto& [commandLine, expectedStatus, says] : cases) {
    const auto [status, output] = run(commandLine);
    EXPECT_EQ(status, expectedStatus) << commandLine << ": " << output;
    const bool absent = says.starts_with('!');
    EXPECT_EQ(output.find(says.substr(absent ? 1 : 0)) == std::string::npos, absent)
        << commandLine << ": " << output;
  }
  // The gallery and a store that cannot be opened show the placeholder record; the
  // snapshot the stored figures.
  for (const char* picture : kPictures) {
    EXPECT_TRUE(looksLike(out + "/gallery/" + picture, picture));
    EXPECT_TRUE(looksLike(out + "/placeholder/" + picture, picture));
    EXPECT_FALSE(looksLike(out + "/snapshot/" + picture, picture));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out + "/gallery"), {}), 3);
}

// One host a session: a second start hands over to the running one, a snapshot still runs
// beside it, and the host ends cleanly on a stop signal, also after a flood of reloads.
TEST(SornWidgetsProgram, OneHostASessionThatEndsCleanlyOnSignalsAlsoInAFloodOfReloads) {
  const testsupport::TempDataDir dir;
  storeStats(60, 3, 4);
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(stopSignal);
    const char* argv[] = {SORN_WIDGETS_BINARY, nullptr};
    GPid pid = 0;
    ASSERT_TRUE(g_spawn_async(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                              nullptr, &pid, nullptr));
    EXPECT_TRUE(spinUntil([] { return testsupport::busNameHasOwner("com.tarnwell.sorn.Widgets"); }, 10s));
    EXPECT_EQ(run("timeout 20 " SORN_WIDGETS_BINARY).first, 0);  // hands over and ends, runs no host
    const auto snapshot = run(SORN_WIDGETS_BINARY " --snapshot " + dir.root().string());
    EXPECT_TRUE(snapshot.first == 0 && std::filesystem::exists(dir.root() / kPictures[2])) << snapshot.second;
    sendReloads(5000);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the running host ended";
    kill(pid, stopSignal);
    // Ends within a generous bound, or is stopped for good.
    const bool ended = spinUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5s);
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    g_spawn_close_pid(pid);
  }
}

}  // namespace
}  // namespace widgets
