// A screen-cast backend for the desktop portal, for tests: every source the user "picks"
// is a 1280x720 30 fps test pattern that a GStreamer pipeline provides as a PipeWire node.
// Tests steer it over its own D-Bus interface (see portal-session.sh).

#include <gio/gio.h>
#include <glib-unix.h>
#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gobject/ObjectRef.h"

namespace {

using platform::gobject::ObjectRef;

constexpr const char* kBusName = "org.sorn.test.ScreenCastMock";
constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRestoreVendor = "sorn-mock";
constexpr guint32 kSourceMonitor = 1;
constexpr guint32 kSourceWindow = 2;
constexpr guint32 kCursorHidden = 1;
constexpr guint32 kCursorEmbedded = 2;
constexpr guint32 kResponseCancelled = 1;

constexpr const char* kIntrospection = R"xml(
<node>
  <interface name="org.freedesktop.impl.portal.ScreenCast">
    <method name="CreateSession">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="SelectSources">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <method name="Start">
      <arg type="o" name="handle" direction="in"/>
      <arg type="o" name="session_handle" direction="in"/>
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="parent_window" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="u" name="response" direction="out"/>
      <arg type="a{sv}" name="results" direction="out"/>
    </method>
    <property name="AvailableSourceTypes" type="u" access="read"/>
    <property name="AvailableCursorModes" type="u" access="read"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.sorn.test.ScreenCastMock">
    <method name="Configure">
      <arg type="a{sv}" name="behaviour" direction="in"/>
    </method>
    <method name="Stats">
      <arg type="u" name="prompts" direction="out"/>
      <arg type="s" name="last_grant" direction="out"/>
    </method>
  </interface>
</node>)xml";

constexpr const char* kSessionIntrospection = R"xml(
<node>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
  </interface>
</node>)xml";

// What tests asked of the mock through Configure.
struct Behaviour {
  bool cancelStart = false;
  guint closeAfterSeconds = 0;
  std::string rejectedGrant;  // "*" rejects every grant
};

// The id of the PipeWire node named `name`, as `pw-dump` lists the graph now.
std::optional<std::uint32_t> findPipeWireNode(const std::string& name) {
  g_autofree gchar* output = nullptr;
  gint status = 0;
  if (!g_spawn_command_line_sync("pw-dump", &output, nullptr, &status, nullptr) ||
      !g_spawn_check_wait_status(status, nullptr))
    return std::nullopt;
  const auto graph = nlohmann::json::parse(output, nullptr, false);
  if (!graph.is_array()) return std::nullopt;
  const nlohmann::json::json_pointer nodeName("/info/props/node.name");
  for (const auto& object : graph) {
    if (object.is_object() && object.value("type", "") == "PipeWire:Interface:Node" &&
        object.value(nodeName, std::string()) == name) {
      return object.value("id", std::uint32_t{0});
    }
  }
  return std::nullopt;
}

struct Session {
  guint registration = 0;
  guint closeTimer = 0;
  guint32 persistMode = 0;
  std::optional<std::string> restoredGrant;
  ObjectRef<GstElement> pipeline;
};

class ScreenCastMock {
 public:
  ScreenCastMock(GDBusConnection* bus, GMainLoop* loop) : bus_(bus), loop_(loop) {}

  void run() {
    g_autoptr(GError) error = nullptr;
    node_ = g_dbus_node_info_new_for_xml(kIntrospection, &error);
    sessionNode_ = g_dbus_node_info_new_for_xml(kSessionIntrospection, &error);
    if (node_ == nullptr || sessionNode_ == nullptr) g_error("introspection: %s", error->message);
    static const GDBusInterfaceVTable vtable{
        &ScreenCastMock::onCall, &ScreenCastMock::onProperty, nullptr, {}};
    for (int i = 0; i < 2; ++i) {
      if (g_dbus_connection_register_object(bus_, kObjectPath, node_->interfaces[i], &vtable, this, nullptr,
                                            &error) == 0) {
        g_error("register: %s", error->message);
      }
    }
    g_bus_own_name_on_connection(bus_, kBusName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, nullptr,
                                 &ScreenCastMock::onNameLost, loop_, nullptr);
    g_main_loop_run(loop_);
    while (!sessions_.empty()) endSession(sessions_.begin()->first, false);
    g_dbus_node_info_unref(sessionNode_);
    g_dbus_node_info_unref(node_);
  }

 private:
  static void onNameLost(GDBusConnection*, const gchar* name, gpointer loop) {
    g_printerr("mock screen-cast backend: lost %s\n", name);
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
  }

  static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar* property, GError**, gpointer) {
    const std::string name = property;
    if (name == "AvailableSourceTypes") return g_variant_new_uint32(kSourceMonitor | kSourceWindow);
    if (name == "AvailableCursorModes") return g_variant_new_uint32(kCursorHidden | kCursorEmbedded);
    return g_variant_new_uint32(name == "version" ? 4 : 0);
  }

  static void onCall(GDBusConnection*, const gchar*, const gchar* objectPath, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer self) {
    try {
      static_cast<ScreenCastMock*>(self)->dispatch(objectPath, method, parameters, invocation);
    } catch (const std::exception& error) {
      g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_FAILED, "%s",
                                            error.what());
    }
  }

  void dispatch(const std::string& objectPath, const std::string& method, GVariant* parameters,
                GDBusMethodInvocation* invocation) {
    if (objectPath != kObjectPath) {
      endSession(objectPath, false);
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (method == "Configure") {
      configure(parameters);
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (method == "Stats") {
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(us)", prompts_, lastGrant_.c_str()));
    } else if (method == "CreateSession") {
      createSession(parameters, invocation);
    } else if (method == "SelectSources") {
      selectSources(parameters, invocation);
    } else {
      start(parameters, invocation);
    }
  }

  void configure(GVariant* parameters) {
    g_autoptr(GVariant) options = g_variant_get_child_value(parameters, 0);
    g_variant_lookup(options, "cancel_start", "b", &behaviour_.cancelStart);
    g_variant_lookup(options, "close_after_seconds", "u", &behaviour_.closeAfterSeconds);
    const gchar* rejected = nullptr;
    if (g_variant_lookup(options, "reject_grant", "&s", &rejected)) behaviour_.rejectedGrant = rejected;
  }

  static void reply(GDBusMethodInvocation* invocation, guint32 response, GVariantBuilder* results) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ua{sv})", response, results));
  }

  void createSession(GVariant* parameters, GDBusMethodInvocation* invocation) {
    const gchar* sessionPath = nullptr;
    g_variant_get_child(parameters, 1, "&o", &sessionPath);
    static const GDBusInterfaceVTable vtable{&ScreenCastMock::onCall, nullptr, nullptr, {}};
    g_autoptr(GError) error = nullptr;
    const guint registration = g_dbus_connection_register_object(
        bus_, sessionPath, sessionNode_->interfaces[0], &vtable, this, nullptr, &error);
    if (registration == 0) {
      g_dbus_method_invocation_return_gerror(invocation, error);
      return;
    }
    auto session = std::make_unique<Session>();
    session->registration = registration;
    sessions_[sessionPath] = std::move(session);
    g_auto(GVariantBuilder) results = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    reply(invocation, 0, &results);
  }

  void selectSources(GVariant* parameters, GDBusMethodInvocation* invocation) {
    const gchar* sessionPath = nullptr;
    g_autoptr(GVariant) options = nullptr;
    g_variant_get(parameters, "(o&o&s@a{sv})", nullptr, &sessionPath, nullptr, &options);
    g_auto(GVariantBuilder) results = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    const auto found = sessions_.find(sessionPath);
    if (found == sessions_.end()) {
      reply(invocation, 2, &results);
      return;
    }
    Session& session = *found->second;
    g_variant_lookup(options, "persist_mode", "u", &session.persistMode);
    const gchar* vendor = nullptr;
    guint32 version = 0;
    g_autoptr(GVariant) data = nullptr;
    if (g_variant_lookup(options, "restore_data", "(&suv)", &vendor, &version, &data) &&
        std::string(vendor) == kRestoreVendor && g_variant_is_of_type(data, G_VARIANT_TYPE_STRING)) {
      const std::string grant = g_variant_get_string(data, nullptr);
      if (behaviour_.rejectedGrant != "*" && behaviour_.rejectedGrant != grant) {
        session.restoredGrant = grant;
      }
    }
    reply(invocation, 0, &results);
  }

  void start(GVariant* parameters, GDBusMethodInvocation* invocation) {
    const gchar* sessionPath = nullptr;
    g_variant_get_child(parameters, 1, "&o", &sessionPath);
    g_auto(GVariantBuilder) results = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    const auto found = sessions_.find(sessionPath);
    if (found == sessions_.end()) {
      reply(invocation, 2, &results);
      return;
    }
    Session& session = *found->second;
    if (!session.restoredGrant) ++prompts_;
    if (behaviour_.cancelStart) {
      reply(invocation, kResponseCancelled, &results);
      return;
    }
    const auto node = publishStream(session, sessionPath);
    if (!node) {
      reply(invocation, 2, &results);
      return;
    }
    GVariantBuilder properties = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&properties, "{sv}", "source_type", g_variant_new_uint32(kSourceMonitor));
    g_variant_builder_add(&properties, "{sv}", "size", g_variant_new("(ii)", 1280, 720));
    g_variant_builder_add(&properties, "{sv}", "position", g_variant_new("(ii)", 0, 0));
    GVariantBuilder streams = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE("a(ua{sv})"));
    g_variant_builder_add(&streams, "(ua{sv})", *node, &properties);
    g_variant_builder_add(&results, "{sv}", "streams", g_variant_builder_end(&streams));
    if (session.persistMode != 0) {
      const std::string grant =
          session.restoredGrant ? *session.restoredGrant : "grant-" + std::to_string(++grants_);
      lastGrant_ = grant;
      g_variant_builder_add(&results, "{sv}", "persist_mode", g_variant_new_uint32(session.persistMode));
      g_variant_builder_add(&results, "{sv}", "restore_data",
                            g_variant_new("(suv)", kRestoreVendor, 1, g_variant_new_string(grant.c_str())));
    }
    if (behaviour_.closeAfterSeconds > 0) {
      auto* closing = new std::pair<ScreenCastMock*, std::string>(this, sessionPath);
      session.closeTimer = g_timeout_add_seconds_full(
          G_PRIORITY_DEFAULT, behaviour_.closeAfterSeconds, &ScreenCastMock::onCloseTimer, closing,
          [](gpointer data) { delete static_cast<std::pair<ScreenCastMock*, std::string>*>(data); });
    }
    reply(invocation, 0, &results);
  }

  static gboolean onCloseTimer(gpointer data) {
    auto* closing = static_cast<std::pair<ScreenCastMock*, std::string>*>(data);
    const auto found = closing->first->sessions_.find(closing->second);
    if (found != closing->first->sessions_.end()) found->second->closeTimer = 0;
    closing->first->endSession(closing->second, true);
    return G_SOURCE_REMOVE;
  }

  // Plays the test pattern into a PipeWire node of its own; the node's id once it is in
  // the graph.
  std::optional<std::uint32_t> publishStream(Session& session, const std::string& sessionPath) {
    const std::string nodeName = "sorn-mock-screencast-" + std::to_string(++streamsStarted_);
    g_autoptr(GError) error = nullptr;
    session.pipeline = ObjectRef<GstElement>::retain(
        gst_parse_launch("videotestsrc is-live=true pattern=ball ! "
                         "video/x-raw,format=BGRx,width=1280,height=720,framerate=30/1 ! "
                         "pipewiresink name=sink mode=provide sync=false",
                         &error));
    if (!session.pipeline) {
      g_printerr("mock screen-cast backend: %s\n", error->message);
      return std::nullopt;
    }
    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(session.pipeline.get()), "sink");
    g_autoptr(GstStructure) properties =
        gst_structure_new("props", "node.name", G_TYPE_STRING, nodeName.c_str(), "media.class", G_TYPE_STRING,
                          "Video/Source", "sorn.session", G_TYPE_STRING, sessionPath.c_str(), nullptr);
    g_object_set(sink, "stream-properties", properties, nullptr);
    gst_element_set_state(session.pipeline.get(), GST_STATE_PLAYING);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (const auto id = findPipeWireNode(nodeName)) return id;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    g_printerr("mock screen-cast backend: node %s did not appear\n", nodeName.c_str());
    return std::nullopt;
  }

  // Stops the session's stream and forgets it; `announce` emits Closed (the backend ended it).
  void endSession(const std::string& sessionPath, bool announce) {
    const auto found = sessions_.find(sessionPath);
    if (found == sessions_.end()) return;
    Session& session = *found->second;
    if (session.pipeline) gst_element_set_state(session.pipeline.get(), GST_STATE_NULL);
    if (session.closeTimer != 0) g_source_remove(session.closeTimer);
    if (announce) {
      g_dbus_connection_emit_signal(bus_, nullptr, sessionPath.c_str(), "org.freedesktop.impl.portal.Session",
                                    "Closed", nullptr, nullptr);
    }
    g_dbus_connection_unregister_object(bus_, session.registration);
    sessions_.erase(found);
  }

  GDBusConnection* bus_;
  GMainLoop* loop_;
  GDBusNodeInfo* node_ = nullptr;
  GDBusNodeInfo* sessionNode_ = nullptr;
  Behaviour behaviour_;
  std::map<std::string, std::unique_ptr<Session>> sessions_;
  guint32 prompts_ = 0;
  unsigned grants_ = 0;
  unsigned streamsStarted_ = 0;
  std::string lastGrant_;
};

gboolean quitOnSignal(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  g_autoptr(GError) error = nullptr;
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    g_printerr("mock screen-cast backend: %s\n", error->message);
    return 1;
  }
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGTERM, &quitOnSignal, loop);
  g_unix_signal_add(SIGINT, &quitOnSignal, loop);
  ScreenCastMock(bus, loop).run();
  return 0;
}
