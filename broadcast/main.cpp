// sorn-broadcast: the broadcast extension. The broadcast picker starts it once the user
// confirms the chooser sheet; it runs one broadcast with SampleHandler and exits.
#include <glib.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <variant>

#include "broadcast/SampleHandler.h"
#include "broadcast/ScreenFramePipe.h"
#include "platform/http/CurlSession.h"
#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"
#include "platform/text/CommandLine.h"
#include "platform/text/Translation.h"

namespace {

constexpr const char* kProgram = "sorn-broadcast";
constexpr int kUsageStatus = 2;

void printCounters() {
  auto counters = broadcast::ScreenFramePipe::shared().counters();
  std::printf("framesReceived=%lld framesDropped=%lld\n", static_cast<long long>(counters.framesReceived),
              static_cast<long long>(counters.framesDropped));
  std::fflush(stdout);
}

// With --stats, a thread of its own prints the pipe's counters once a second until the
// broadcast ends, so that a test or a curious user sees frames flow.
std::jthread startCounterReports() {
  return std::jthread([](const std::stop_token& stop) {
    std::mutex mutex;
    std::condition_variable_any stopped;
    std::unique_lock lock(mutex);
    while (!stopped.wait_for(lock, stop, std::chrono::seconds(1), [&stop] { return stop.stop_requested(); }))
      printCounters();
  });
}

constexpr const char* kDescription =
    N_("The Sorn broadcast extension: shares your screen into the Sorn voice channel you are in. The app's "
       "broadcast chooser starts it when you confirm Start Broadcast; it refuses when no voice channel is "
       "joined, otherwise opens a screen session with the service, sends the captured screen until you press "
       "Stop in its window, and closes the session.");
constexpr const char* kSourcesDescription =
    N_("Capture sources:\n"
       "  auto          the desktop's screen-cast portal on Wayland or without an X11 display,\n"
       "                the X11 screen otherwise (the default)\n"
       "  portal        what you pick in the desktop's screen-cast portal\n"
       "  screen        the X11 screen\n"
       "  test-pattern  a moving test picture (tests, headless demos)");

struct Options {
  platform::screencast::CaptureSource source = platform::screencast::CaptureSource::automatic;
  gboolean printStats = FALSE;
  gboolean printVersion = FALSE;
};

gboolean readCaptureSource(const gchar* /*option*/, const gchar* value, gpointer options, GError** error) {
  const auto parsed = platform::screencast::parseCaptureSource(value);
  if (!parsed) {
    g_set_error(error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE,
                _("Unknown capture source '%s': use auto, portal, screen or test-pattern."), value);
    return FALSE;
  }
  static_cast<Options*>(options)->source = *parsed;
  return TRUE;
}

// The options, or the exit status when the command line asks for no broadcast (--help,
// --version) or is wrong.
std::variant<Options, int> readCommandLine(int argc, char** argv) {
  Options options;
  const std::array<GOptionEntry, 4> entries = {{
      {"capture", 0, 0, G_OPTION_ARG_CALLBACK, reinterpret_cast<gpointer>(&readCaptureSource),
       _("Where the frames come from (see below)"), _("SOURCE")},
      {"stats", 0, 0, G_OPTION_ARG_NONE, &options.printStats,
       _("Print the frame pipe's counters each second and at the end"), nullptr},
      {"version", 'v', 0, G_OPTION_ARG_NONE, &options.printVersion,
       platform::text::versionOptionDescription(), nullptr},
      GOptionEntry{},
  }};
  g_autoptr(GOptionContext) context = g_option_context_new(nullptr);
  GOptionGroup* group = g_option_group_new(nullptr, nullptr, nullptr, &options, nullptr);
  g_option_group_add_entries(group, entries.data());
  g_option_context_set_main_group(context, group);
  g_option_context_set_summary(context, _(kDescription));
  g_option_context_set_description(context, _(kSourcesDescription));
  g_autoptr(GError) error = nullptr;
  if (g_option_context_parse(context, &argc, &argv, &error) == FALSE) {
    platform::text::printCommandLineError(kProgram, error->message);
    return kUsageStatus;
  }
  if (argc > 1) {
    platform::text::printUnexpectedArgument(kProgram, argv[1]);
    return kUsageStatus;
  }
  if (options.printVersion != FALSE) {
    platform::text::printVersion(kProgram);
    return 0;
  }
  return options;
}

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): std::get below follows the check that it holds Options
int main(int argc, char** argv) {
  platform::text::initTranslations();
  const auto commandLine = readCommandLine(argc, argv);
  if (const int* status = std::get_if<int>(&commandLine)) return *status;
  const auto& options = std::get<Options>(commandLine);
  using platform::screencast::CaptureSource;

  platform::http::installSharedTransport(platform::http::CurlSession::shared());
  std::jthread counterReports;
  if (options.printStats != FALSE) counterReports = startCounterReports();
  const CaptureSource source =
      platform::screencast::resolveCaptureSource(options.source, isSet("WAYLAND_DISPLAY"), isSet("DISPLAY"));
  auto handler = std::make_shared<broadcast::SampleHandler>();
  int status = platform::screencast::runBroadcastExtension(
      handler, {.captureDescription = platform::screencast::captureDescription(source),
                .captureThroughPortal = source == CaptureSource::portal,
                .showIndicator = true,
                // A session the service opened must not stay open because the process left first.
                .taskDrainLimit = broadcast::kRequestsAfterFinishLimit});
  if (options.printStats != FALSE) {
    counterReports.request_stop();
    counterReports.join();
    printCounters();
  }
  const auto counters = broadcast::ScreenFramePipe::shared().counters();
  g_debug("broadcast ended with status %d: %lld frames received, %lld dropped", status,
          static_cast<long long>(counters.framesReceived), static_cast<long long>(counters.framesDropped));
  return status;
}
