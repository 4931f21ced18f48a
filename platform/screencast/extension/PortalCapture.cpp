#include "platform/screencast/extension/PortalCapture.h"

#include <unistd.h>

#include <optional>
#include <utility>

#include "platform/dispatch/Guarded.h"
#include "platform/screencast/extension/CaptureSource.h"

namespace platform::screencast {

namespace {

using gobject::ObjectRef;

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

// What an asynchronous call carries: the capture, alive until the call has answered.
using Pending = std::shared_ptr<PortalCapture>;

std::string messageOf(GError* error) {
  if (error == nullptr) return "unknown error";
  if (g_dbus_error_is_remote_error(error) != FALSE) g_dbus_error_strip_remote_error(error);
  return error->message;
}

// Session handles of this connection: .../session/<unique name without ':', '.' as '_'>/<token>.
std::string sessionPathPrefix(GDBusConnection* bus) {
  std::string sender = g_dbus_connection_get_unique_name(bus) + 1;
  for (char& c : sender)
    if (c == '.') c = '_';
  return std::string(kPortalPath) + "/session/" + sender + "/";
}

}  // namespace

PortalCapture::PortalCapture(RestoreTokenFile tokenFile, Callbacks callbacks)
    : tokenFile_(std::move(tokenFile)), callbacks_(std::move(callbacks)) {}

PortalCapture::~PortalCapture() { close(); }

void PortalCapture::start() {
  cancellable_ = ObjectRef<GCancellable>::adopt(g_cancellable_new());
  g_autoptr(GError) error = nullptr;
  bus_ = ObjectRef<GDBusConnection>::adopt(g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable_.get(), &error));
  if (!bus_) return fail(unavailable, kUnavailable + messageOf(error));
  // The portal library takes a portal for granted; ask first whether it and its
  // screen-cast interface are there.
  g_dbus_connection_call(bus_.get(), kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.freedesktop.portal.ScreenCast", "version"),
                         G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1, cancellable_.get(),
                         &PortalCapture::onPortalProbed, new Pending(shared_from_this()));
}

void PortalCapture::onPortalProbed(GObject* bus, GAsyncResult* result, gpointer pending) {
  const std::unique_ptr<Pending> self(static_cast<Pending*>(pending));
  platform::dispatch::runGuarded([&] {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) version = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
    if ((*self)->closed_) return;
    if (version == nullptr) return (*self)->fail(unavailable, kUnavailable + messageOf(error));
    (*self)->portal_ = ObjectRef<XdpPortal>::adopt(xdp_portal_new());
    (*self)->requestSession(true);
  });
}

void PortalCapture::requestSession(bool withToken) {
  const std::optional<std::string> token = withToken ? tokenFile_.read() : std::nullopt;
  usedToken_ = token.has_value();
  xdp_portal_create_screencast_session(
      portal_.get(), static_cast<XdpOutputType>(XDP_OUTPUT_MONITOR | XDP_OUTPUT_WINDOW),
      XDP_SCREENCAST_FLAG_NONE, XDP_CURSOR_MODE_EMBEDDED, XDP_PERSIST_MODE_PERSISTENT,
      token ? token->c_str() : nullptr, cancellable_.get(), &PortalCapture::onSessionCreated,
      new Pending(shared_from_this()));
}

void PortalCapture::onSessionCreated(GObject* portal, GAsyncResult* result, gpointer pending) {
  const std::unique_ptr<Pending> self(static_cast<Pending*>(pending));
  platform::dispatch::runGuarded([&] {
    g_autoptr(GError) error = nullptr;
    auto session = ObjectRef<XdpSession>::adopt(
        xdp_portal_create_screencast_session_finish(XDP_PORTAL(portal), result, &error));
    auto& capture = **self;
    if (capture.closed_) {
      if (session) xdp_session_close(session.get());
      return;
    }
    if (!session) {
      if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) != FALSE)
        return capture.fail(cancelled, kCancelled);
      if (capture.usedToken_) {
        capture.tokenFile_.remove();
        return capture.requestSession(false);
      }
      return capture.fail(failed, "Screen sharing failed: " + messageOf(error));
    }
    capture.session_ = std::move(session);
    capture.watchClosed();
    xdp_session_start(capture.session_.get(), nullptr, capture.cancellable_.get(),
                      &PortalCapture::onSessionStarted, new Pending(*self));
  });
}

void PortalCapture::onSessionStarted(GObject* session, GAsyncResult* result, gpointer pending) {
  const std::unique_ptr<Pending> self(static_cast<Pending*>(pending));
  platform::dispatch::runGuarded([&] {
    g_autoptr(GError) error = nullptr;
    const bool started = xdp_session_start_finish(XDP_SESSION(session), result, &error) != FALSE;
    auto& capture = **self;
    if (capture.closed_) return;
    if (!started) {
      if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) != FALSE)
        return capture.fail(cancelled, kCancelled);
      if (capture.usedToken_) {
        // The desktop no longer honours the stored choice: forget it and ask the user.
        capture.tokenFile_.remove();
        capture.releaseSession();
        return capture.requestSession(false);
      }
      return capture.fail(failed, "Screen sharing failed: " + messageOf(error));
    }

    g_autofree char* token = xdp_session_get_restore_token(XDP_SESSION(session));
    if (token == nullptr || !capture.tokenFile_.write(token)) capture.tokenFile_.remove();

    GVariant* streams = xdp_session_get_streams(XDP_SESSION(session));
    if (streams == nullptr || g_variant_n_children(streams) == 0)
      return capture.fail(failed, "Screen sharing failed: the desktop shared nothing");
    guint32 node = 0;
    g_autoptr(GVariant) properties = nullptr;
    g_variant_get_child(streams, 0, "(u@a{sv})", &node, &properties);
    capture.pipeWireFd_ = xdp_session_open_pipewire_remote(XDP_SESSION(session));
    if (capture.pipeWireFd_ < 0)
      return capture.fail(failed, "Screen sharing failed: the desktop's screen stream cannot be opened");
    g_log("sorn", G_LOG_LEVEL_DEBUG, "the desktop started the screen cast: PipeWire node %u", node);
    if (capture.callbacks_.streaming)
      capture.callbacks_.streaming(portalCaptureDescription(capture.pipeWireFd_, node));
  });
}

void PortalCapture::watchClosed() {
  // The portal library does not always hear the desktop close a session; listen directly.
  closedWatch_ = g_dbus_connection_signal_subscribe(
      bus_.get(), kPortalName, "org.freedesktop.portal.Session", "Closed", nullptr, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, &PortalCapture::onSessionClosed,
      new std::weak_ptr<PortalCapture>(weak_from_this()),
      [](gpointer capture) { delete static_cast<std::weak_ptr<PortalCapture>*>(capture); });
}

void PortalCapture::onSessionClosed(GDBusConnection* bus, const gchar* /*sender*/, const gchar* path,
                                    const gchar* /*interface*/, const gchar* /*signal*/,
                                    GVariant* /*parameters*/, gpointer capture) {
  platform::dispatch::runGuarded([&] {
    auto self = static_cast<std::weak_ptr<PortalCapture>*>(capture)->lock();
    if (!self || self->closed_ || g_str_has_prefix(path, sessionPathPrefix(bus).c_str()) == FALSE) return;
    auto report = self->callbacks_.closed;
    self->close();
    if (report) report();
  });
}

void PortalCapture::fail(ErrorCode code, const std::string& description) {
  auto report = callbacks_.failed;
  close();
  if (report) report({kErrorDomain, code, description});
}

void PortalCapture::releaseSession() {
  if (closedWatch_ != 0) g_dbus_connection_signal_unsubscribe(bus_.get(), std::exchange(closedWatch_, 0));
  if (session_) {
    xdp_session_close(session_.get());
    session_ = {};
    // The process may end next; the desktop must still hear that the session is over.
    g_dbus_connection_flush_sync(bus_.get(), nullptr, nullptr);
  }
  if (pipeWireFd_ >= 0) ::close(std::exchange(pipeWireFd_, -1));
}

void PortalCapture::close() {
  closed_ = true;
  if (cancellable_) g_cancellable_cancel(cancellable_.get());
  releaseSession();
}

}  // namespace platform::screencast
