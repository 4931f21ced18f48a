// The two sides of the portal capture figures (portal-capture-bench.sh runs them in a portal
// rig beside sorn-broadcast --capture=portal):
//   bench_portal_capture bare   asks the portal for a screen cast as the extension does and
//                               captures the stream the extension's way (the same launch
//                               description) into a bare appsink callback, until SIGINT or SIGTERM
//   bench_portal_capture host   runs the extension host in this process with its portal capture,
//                               until the first frame reaches the handler
// Both print "first-frame-ms N": from the portal's Start answer, once the stream's PipeWire
// remote is open, to the first sample in the sink callback or in the handler.
#include <glib-unix.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <libportal/portal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/gobject/ObjectRef.h"
#include "platform/screencast/extension/CaptureSource.h"
#include "platform/screencast/extension/ExtensionHost.h"

namespace {

using Clock = std::chrono::steady_clock;

// When the stream was lent; set on the main thread before the capture's threads exist.
std::atomic<Clock::rep> streamStarted{0};
std::atomic<bool> sawFrame{false};

void markStreamStarted() { streamStarted = Clock::now().time_since_epoch().count(); }

// Prints the first frame's delay once; false for every later frame.
bool reportFirstFrame() {
  const auto now = Clock::now().time_since_epoch().count();
  if (sawFrame.exchange(true)) return false;
  if (streamStarted == 0) {
    std::fputs("bench_portal_capture: a frame came before the stream was started\n", stderr);
    return true;
  }
  std::printf("first-frame-ms %.1f\n",
              static_cast<double>(now - streamStarted) * Clock::period::num / Clock::period::den * 1e3);
  std::fflush(stdout);
  return true;
}

struct BareCapture {
  GMainLoop* loop = nullptr;  // runBare()'s
  platform::gobject::ObjectRef<XdpPortal> portal =
      platform::gobject::ObjectRef<XdpPortal>::adopt(xdp_portal_new());
  platform::gobject::ObjectRef<XdpSession> session;
  platform::gobject::ObjectRef<GstElement> pipeline;
  int status = 0;

  ~BareCapture() {
    if (pipeline) gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (session) xdp_session_close(session.get());
  }

  void fail(const char* what, const GError* error) {
    std::fprintf(stderr, "bench_portal_capture: %s: %s\n", what,
                 error != nullptr ? error->message : "failed");
    status = 1;
    g_main_loop_quit(loop);
  }
};

GstFlowReturn onBareSample(GstAppSink* sink, gpointer /*capture*/) {
  g_autoptr(GstSample) sample = gst_app_sink_pull_sample(sink);
  reportFirstFrame();
  return GST_FLOW_OK;
}

void onBareStarted(GObject* session, GAsyncResult* result, gpointer data) {
  auto& capture = *static_cast<BareCapture*>(data);
  g_autoptr(GError) error = nullptr;
  if (!xdp_session_start_finish(XDP_SESSION(session), result, &error)) return capture.fail("Start", error);
  GVariant* streams = xdp_session_get_streams(XDP_SESSION(session));
  if (streams == nullptr || g_variant_n_children(streams) == 0)
    return capture.fail("Start: no stream", nullptr);
  guint32 node = 0;
  g_variant_get_child(streams, 0, "(u@a{sv})", &node, nullptr);
  const int fd = xdp_session_open_pipewire_remote(XDP_SESSION(session));
  if (fd < 0) return capture.fail("OpenPipeWireRemote", nullptr);
  markStreamStarted();
  capture.pipeline = platform::gobject::ObjectRef<GstElement>::retain(
      gst_parse_launch(platform::screencast::portalCaptureDescription(fd, node).c_str(), &error));
  if (!capture.pipeline) return capture.fail("pipeline", error);
  g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(capture.pipeline.get()), "sink");
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &onBareSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &capture, nullptr);
  if (gst_element_set_state(capture.pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
    capture.fail("pipeline", nullptr);
}

void onBareSessionCreated(GObject* portal, GAsyncResult* result, gpointer data) {
  auto& capture = *static_cast<BareCapture*>(data);
  g_autoptr(GError) error = nullptr;
  capture.session = platform::gobject::ObjectRef<XdpSession>::adopt(
      xdp_portal_create_screencast_session_finish(XDP_PORTAL(portal), result, &error));
  if (!capture.session) return capture.fail("CreateSession", error);
  xdp_session_start(capture.session.get(), nullptr, nullptr, &onBareStarted, &capture);
}

gboolean quitLoop(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

int runBare() {
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  BareCapture capture;
  capture.loop = loop;
  g_unix_signal_add(SIGINT, &quitLoop, capture.loop);
  g_unix_signal_add(SIGTERM, &quitLoop, capture.loop);
  xdp_portal_create_screencast_session(
      capture.portal.get(), static_cast<XdpOutputType>(XDP_OUTPUT_MONITOR | XDP_OUTPUT_WINDOW),
      XDP_SCREENCAST_FLAG_NONE, XDP_CURSOR_MODE_EMBEDDED, XDP_PERSIST_MODE_NONE, nullptr, nullptr,
      &onBareSessionCreated, &capture);
  g_main_loop_run(capture.loop);
  return capture.status;
}

// Ends the broadcast after its first frame, as Stop does.
class FirstFrameHandler final : public platform::screencast::BroadcastSampleHandler {
 public:
  void broadcastStartedWithSetupInfo(
      const std::optional<platform::screencast::SetupInfo>& /*info*/) override {}
  void processSampleBuffer(const platform::screencast::SampleBuffer& /*sample*/,
                           platform::screencast::SampleBufferType /*type*/) override {
    if (reportFirstFrame()) kill(getpid(), SIGTERM);
  }
  void broadcastFinished() override {}
};

// The host logs the stream's start right before it builds the capture.
void onHostLog(const gchar* /*domain*/, GLogLevelFlags /*level*/, const gchar* message, gpointer /*data*/) {
  if (g_str_has_prefix(message, "the desktop started the screen cast")) markStreamStarted();
}

int runHost() {
  g_log_set_handler("sorn", G_LOG_LEVEL_DEBUG, &onHostLog, nullptr);
  const int status = platform::screencast::runBroadcastExtension(
      std::make_shared<FirstFrameHandler>(),
      {.captureDescription = {}, .captureThroughPortal = true, .showIndicator = false, .taskDrainLimit = {}});
  if (!sawFrame) std::fputs("bench_portal_capture: the broadcast ended before its first frame\n", stderr);
  return sawFrame ? status : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc == 2 ? argv[1] : "";
  if (mode != "bare" && mode != "host") {
    std::fputs("usage: bench_portal_capture bare|host (inside a portal rig)\n", stderr);
    return 2;
  }
  gst_init(nullptr, nullptr);
  return mode == "bare" ? runBare() : runHost();
}
