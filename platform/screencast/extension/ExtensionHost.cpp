#include "platform/screencast/extension/ExtensionHost.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dispatch/WorkerPool.h"
#include "platform/gobject/ObjectRef.h"
#include "platform/screencast/extension/BroadcastLock.h"
#include "platform/screencast/extension/GstSampleBuffer.h"
#include "platform/screencast/extension/IndicatorProcess.h"
#include "platform/screencast/extension/PortalCapture.h"
#include "platform/text/Translation.h"

namespace platform::screencast {

namespace {

using gobject::ObjectRef;

std::string captureFailure(GError* error) {
  g_autofree gchar* text =
      g_strdup_printf(_("Screen capture failed: %s"), error != nullptr ? error->message : _("unknown error"));
  g_clear_error(&error);
  return text;
}

bool hasDisplay() { return g_getenv("DISPLAY") != nullptr || g_getenv("WAYLAND_DISPLAY") != nullptr; }

constexpr const char* kAlreadyRunning = N_("A screen broadcast is already running.");

// A second broadcast while one runs: its handler is never started, so it opens no session
// and leaves the running broadcast (and what it stored) alone. Shown where a refusal of
// the handler's own would be.
int refuseSecondBroadcast(const ExtensionHostOptions& options) {
  const char* refusal = _(kAlreadyRunning);
  std::fprintf(stderr, "%s\n", refusal);
  std::fflush(stderr);
  if (options.showIndicator && hasDisplay()) {
    if (auto indicator = IndicatorProcess::spawn(IndicatorProcess::programPath(), nullptr))
      indicator->showError(refusal);
  }
  return 1;
}

// One broadcast: the capture pipeline, the indicator and the broadcast service the
// handler ends the broadcast through. Lives on the main thread; finishBroadcastWithError
// and the sample callback come from other threads.
class ExtensionHost final : public BroadcastService, public std::enable_shared_from_this<ExtensionHost> {
 public:
  ExtensionHost(std::shared_ptr<BroadcastSampleHandler> handler, ExtensionHostOptions options)
      : handler_(std::move(handler)), options_(std::move(options)), loop_(g_main_loop_new(nullptr, FALSE)) {}
  ~ExtensionHost() override {
    stopCapture();
    if (portal_) portal_->close();
    g_main_loop_unref(loop_);
  }
  ExtensionHost(const ExtensionHost&) = delete;
  ExtensionHost& operator=(const ExtensionHost&) = delete;

  int run();
  void finishBroadcastWithError(const BroadcastError& error) override;

 private:
  std::optional<std::string> startCapture(const std::string& description);
  void startPortalCapture();
  void stopCapture();
  void endBroadcast(const std::optional<std::string>& errorDescription);

  static GstFlowReturn onNewSample(GstAppSink* sink, gpointer self);
  static gboolean onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
  static gboolean onStopSignal(gpointer self);
  static gboolean onPendingError(gpointer self);

  const std::shared_ptr<BroadcastSampleHandler> handler_;
  const ExtensionHostOptions options_;
  GMainLoop* const loop_;
  ObjectRef<GstElement> pipeline_;
  std::shared_ptr<PortalCapture> portal_;
  std::unique_ptr<IndicatorProcess> indicator_;
  std::vector<guint> sources_;
  bool ended_ = false;
  int exitStatus_ = 0;

  std::mutex errorMutex_;
  std::optional<BroadcastError> pendingError_;  // guarded by errorMutex_
  bool acceptingErrors_ = true;                 // guarded by errorMutex_
};

int ExtensionHost::run() {
  // A write to an indicator that has gone must fail, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  sources_.push_back(g_unix_signal_add(SIGINT, &ExtensionHost::onStopSignal, this));
  sources_.push_back(g_unix_signal_add(SIGTERM, &ExtensionHost::onStopSignal, this));
  if (options_.showIndicator && hasDisplay()) {
    indicator_ =
        IndicatorProcess::spawn(IndicatorProcess::programPath(), [this] { endBroadcast(std::nullopt); });
  }

  handler_->attachService(shared_from_this());
  handler_->broadcastStartedWithSetupInfo(std::nullopt);

  bool refused = false;
  {
    std::lock_guard lock(errorMutex_);
    refused = pendingError_.has_value();
  }
  // A broadcast ended during started (a refusal) never captures; its error is shown
  // from the main loop like any other.
  if (!refused && options_.captureThroughPortal) {
    startPortalCapture();
  } else if (!refused) {
    if (auto failure = startCapture(options_.captureDescription)) endBroadcast(failure);
  }
  if (!ended_) g_main_loop_run(loop_);

  for (guint source : sources_) g_source_remove(source);
  sources_.clear();
  platform::dispatch::WorkerPool::shared().waitUntilIdle(std::chrono::steady_clock::now() +
                                                         options_.taskDrainLimit);
  return exitStatus_;
}

// The portal's answers come on the main loop; the portal is closed (and answers no more)
// before the host goes.
void ExtensionHost::startPortalCapture() {
  portal_ = std::make_shared<PortalCapture>(
      RestoreTokenFile(RestoreTokenFile::defaultPath(g_getenv("XDG_STATE_HOME"), g_get_home_dir())),
      PortalCapture::Callbacks{
          .streaming =
              [this](const std::string& description) {
                if (auto failure = startCapture(description)) endBroadcast(failure);
              },
          .failed = [this](const BroadcastError& error) { finishBroadcastWithError(error); },
          .closed = [this] { endBroadcast(std::nullopt); },
      });
  portal_->start();
}

std::optional<std::string> ExtensionHost::startCapture(const std::string& description) {
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr || error != nullptr) {
    if (pipeline != nullptr) gst_object_unref(gst_object_ref_sink(pipeline));
    return captureFailure(error);
  }
  pipeline_ = ObjectRef<GstElement>::retain(pipeline);

  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_.get()), "sink");
  if (sink == nullptr || !GST_IS_APP_SINK(sink)) {
    if (sink != nullptr) gst_object_unref(sink);
    return std::string(_("Screen capture failed: the capture has no sample sink"));
  }
  GstAppSinkCallbacks callbacks{};
  callbacks.new_sample = &ExtensionHost::onNewSample;
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
  gst_object_unref(sink);

  GstBus* bus = gst_element_get_bus(pipeline_.get());
  sources_.push_back(gst_bus_add_watch(bus, &ExtensionHost::onBusMessage, this));
  if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    GError* failure = nullptr;
    if (message != nullptr) gst_message_parse_error(message, &failure, nullptr);
    if (message != nullptr) gst_message_unref(message);
    gst_object_unref(bus);
    return captureFailure(failure);
  }
  gst_object_unref(bus);
  return std::nullopt;
}

void ExtensionHost::stopCapture() {
  // Waits for the capture thread to leave the sample callback; no sample follows.
  if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

void ExtensionHost::endBroadcast(const std::optional<std::string>& errorDescription) {
  if (ended_) return;
  ended_ = true;
  {
    std::lock_guard lock(errorMutex_);
    acceptingErrors_ = false;
  }
  stopCapture();
  if (portal_) portal_->close();
  if (errorDescription) {
    exitStatus_ = 1;
    std::fprintf(stderr, "%s\n", errorDescription->c_str());
    std::fflush(stderr);
    if (indicator_) indicator_->showError(*errorDescription);
  }
  try {
    handler_->broadcastFinished();
  } catch (...) {
    // Nothing may escape into GLib; the broadcast is over either way.
    exitStatus_ = 1;
  }
  if (indicator_) indicator_->close();
  g_main_loop_quit(loop_);
}

void ExtensionHost::finishBroadcastWithError(const BroadcastError& error) {
  {
    std::lock_guard lock(errorMutex_);
    if (!acceptingErrors_ || pendingError_) return;
    pendingError_ = error;
  }
  // Handled on the main loop, never inside the caller (which may be the started
  // callback itself). The source keeps the host alive until it has run or is dropped.
  GSource* source = g_idle_source_new();
  g_source_set_callback(source, &ExtensionHost::onPendingError,
                        new std::shared_ptr<ExtensionHost>(shared_from_this()),
                        [](gpointer host) { delete static_cast<std::shared_ptr<ExtensionHost>*>(host); });
  g_source_attach(source, nullptr);
  g_source_unref(source);
}

gboolean ExtensionHost::onPendingError(gpointer self) {
  auto& host = **static_cast<std::shared_ptr<ExtensionHost>*>(self);
  std::optional<std::string> description;
  {
    std::lock_guard lock(host.errorMutex_);
    if (host.pendingError_) description = host.pendingError_->localizedDescription;
  }
  if (description) host.endBroadcast(description);
  return G_SOURCE_REMOVE;
}

GstFlowReturn ExtensionHost::onNewSample(GstAppSink* sink, gpointer self) {
  GstSample* sample = gst_app_sink_pull_sample(sink);
  if (sample == nullptr) return GST_FLOW_OK;
  try {
    static_cast<ExtensionHost*>(self)->handler_->processSampleBuffer(adoptGstSample(sample),
                                                                     SampleBufferType::video);
  } catch (...) {
    // Nothing may escape into GStreamer; this frame is lost.
  }
  return GST_FLOW_OK;
}

gboolean ExtensionHost::onBusMessage(GstBus* /*bus*/, GstMessage* message, gpointer self) {
  auto& host = *static_cast<ExtensionHost*>(self);
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
    host.endBroadcast(std::nullopt);
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    host.endBroadcast(captureFailure(error));
  }
  return G_SOURCE_CONTINUE;
}

gboolean ExtensionHost::onStopSignal(gpointer self) {
  static_cast<ExtensionHost*>(self)->endBroadcast(std::nullopt);
  return G_SOURCE_CONTINUE;
}

}  // namespace

int runBroadcastExtension(const std::shared_ptr<BroadcastSampleHandler>& handler,
                          const ExtensionHostOptions& options) {
  // Before anything of the broadcast starts: no request, no capture, no indicator of its own.
  const auto lock = BroadcastLock::acquire();
  if (!lock) return refuseSecondBroadcast(options);
  gst_init(nullptr, nullptr);
  auto host = std::make_shared<ExtensionHost>(handler, options);
  return host->run();
}

}  // namespace platform::screencast
