// sorn-broadcast: the broadcast extension. The broadcast picker starts it once the user
// confirms the chooser sheet; it runs one broadcast with SampleHandler and exits.
#include <glib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string_view>
#include <thread>

#include "broadcast/SampleHandler.h"
#include "broadcast/ScreenFramePipe.h"
#include "platform/http/CurlSession.h"
#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"

namespace {

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

void printUsage(std::FILE* to) {
  std::fputs(
      "usage: sorn-broadcast [--capture=auto|portal|screen|test-pattern] [--stats]\n"
      "  --capture=auto          the portal on Wayland or without X11, the X11 screen otherwise\n"
      "                          (the default)\n"
      "  --capture=portal        share what you pick in the desktop's screen-cast portal\n"
      "  --capture=screen        share the X11 screen\n"
      "  --capture=test-pattern  share a moving test picture (tests, headless demos)\n"
      "  --stats                 print the frame pipe's counters each second and at the end\n",
      to);
}

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

int main(int argc, char** argv) {
  using platform::screencast::CaptureSource;
  CaptureSource source = CaptureSource::automatic;
  bool printStats = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    constexpr std::string_view kCapture = "--capture=";
    if (arg.starts_with(kCapture)) {
      auto parsed = platform::screencast::parseCaptureSource(arg.substr(kCapture.size()));
      if (!parsed) {
        std::fprintf(stderr, "sorn-broadcast: unknown capture source '%s'\n", argv[i] + kCapture.size());
        printUsage(stderr);
        return kUsageStatus;
      }
      source = *parsed;
    } else if (arg == "--stats") {
      printStats = true;
    } else if (arg == "--help" || arg == "-h") {
      printUsage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "sorn-broadcast: unknown argument '%s'\n", argv[i]);
      printUsage(stderr);
      return kUsageStatus;
    }
  }

  platform::http::installSharedTransport(platform::http::CurlSession::shared());
  std::jthread counterReports;
  if (printStats) counterReports = startCounterReports();
  source = platform::screencast::resolveCaptureSource(source, isSet("WAYLAND_DISPLAY"), isSet("DISPLAY"));
  auto handler = std::make_shared<broadcast::SampleHandler>();
  int status = platform::screencast::runBroadcastExtension(
      handler, {.captureDescription = platform::screencast::captureDescription(source),
                .captureThroughPortal = source == CaptureSource::portal,
                .showIndicator = true,
                // A session the service opened must not stay open because the process left first.
                .taskDrainLimit = broadcast::kRequestsAfterFinishLimit});
  if (printStats) {
    counterReports.request_stop();
    counterReports.join();
    printCounters();
  }
  const auto counters = broadcast::ScreenFramePipe::shared().counters();
  g_log("sorn", G_LOG_LEVEL_DEBUG, "broadcast ended with status %d: %lld frames received, %lld dropped",
        status, static_cast<long long>(counters.framesReceived),
        static_cast<long long>(counters.framesDropped));
  return status;
}
