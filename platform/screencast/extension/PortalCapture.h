#pragma once

#include <gio/gio.h>
#include <libportal/portal.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/gobject/ObjectRef.h"
#include "platform/screencast/extension/BroadcastSampleHandler.h"
#include "platform/screencast/extension/RestoreTokenFile.h"

namespace platform::screencast {

// A screen-cast session with the desktop's portal: the desktop asks the user which
// monitor or window to share (or, with the stored restore token, shares the previous
// choice again), then lends a PipeWire stream of it with the cursor drawn in. Main
// thread; the callbacks run on it, and none runs once close() was called.
class PortalCapture : public std::enable_shared_from_this<PortalCapture> {
 public:
  static constexpr const char* kErrorDomain = "com.tarnwell.sorn.broadcast.portal";
  enum ErrorCode : std::int64_t { unavailable = 1, cancelled = 2, failed = 3 };
  static constexpr const char* kCancelled = "Screen sharing was cancelled.";
  static constexpr const char* kUnavailable =
      "Screen sharing needs the desktop's screen-cast portal (xdg-desktop-portal), which is not available: ";

  struct Callbacks {
    // The stream is there: the launch description of its capture (see CaptureSource.h).
    std::function<void(const std::string& captureDescription)> streaming;
    // The session could not start: the user cancelled, there is no portal, or it failed.
    std::function<void(const BroadcastError& error)> failed;
    // The desktop ended the session (the user stopped sharing from the desktop).
    std::function<void()> closed;
  };

  PortalCapture(RestoreTokenFile tokenFile, Callbacks callbacks);
  ~PortalCapture();
  PortalCapture(const PortalCapture&) = delete;
  PortalCapture& operator=(const PortalCapture&) = delete;

  // Asks the desktop for a session; exactly one callback follows unless close() comes first.
  void start();
  // Closes the portal session and the PipeWire remote; no callback follows.
  void close();

 private:
  void requestSession(bool withToken);
  void releaseSession();
  void fail(ErrorCode code, const std::string& description);
  void watchClosed();

  static void onPortalProbed(GObject* bus, GAsyncResult* result, gpointer pending);
  static void onSessionCreated(GObject* portal, GAsyncResult* result, gpointer pending);
  static void onSessionStarted(GObject* session, GAsyncResult* result, gpointer pending);
  static void onSessionClosed(GDBusConnection* bus, const gchar* sender, const gchar* path,
                              const gchar* interface, const gchar* signal, GVariant* parameters,
                              gpointer capture);

  const RestoreTokenFile tokenFile_;
  const Callbacks callbacks_;
  gobject::ObjectRef<GCancellable> cancellable_;
  gobject::ObjectRef<GDBusConnection> bus_;
  gobject::ObjectRef<XdpPortal> portal_;
  gobject::ObjectRef<XdpSession> session_;
  guint closedWatch_ = 0;
  int pipeWireFd_ = -1;
  bool usedToken_ = false;
  bool closed_ = false;
};

}  // namespace platform::screencast
