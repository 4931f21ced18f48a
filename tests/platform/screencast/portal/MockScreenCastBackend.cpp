// A screen-cast backend for the desktop portal, for tests: every source the user "picks"
// is a 1280x720 30 fps test pattern that a GStreamer pipeline provides as a PipeWire node.
// Tests steer the user's next answer over its own interface (see portal-session.sh).
#include <gio/gio.h>
#include <gst/gst.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/gobject/ObjectRef.h"

namespace {

constexpr const char* kPath = "/org/freedesktop/portal/desktop";
// The backend's methods take (request, session, app id, [parent window,] options) and
// answer (response, results).
constexpr const char* kInterfaces = R"xml(<node>
<interface name="org.freedesktop.impl.portal.ScreenCast">
  <method name="CreateSession"><arg type="o"/><arg type="o"/><arg type="s"/><arg type="a{sv}"/>
    <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
  <method name="SelectSources"><arg type="o"/><arg type="o"/><arg type="s"/><arg type="a{sv}"/>
    <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
  <method name="Start"><arg type="o"/><arg type="o"/><arg type="s"/><arg type="s"/><arg type="a{sv}"/>
    <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
  <property name="AvailableSourceTypes" type="u" access="read"/>
  <property name="AvailableCursorModes" type="u" access="read"/>
  <property name="version" type="u" access="read"/>
</interface>
<interface name="org.sorn.test.ScreenCastMock">
  <method name="Configure"><arg name="cancel" type="b"/><arg name="close_after_seconds" type="u"/>
    <arg name="refuse_grants" type="b"/></method>
  <method name="Stats"><arg name="prompts" type="u" direction="out"/></method>
</interface>
<interface name="org.freedesktop.impl.portal.Session"><method name="Close"/><signal name="Closed"/></interface>
</node>)xml";

struct Session {
  guint registration = 0;
  guint number = 0;   // of its stream
  std::string grant;  // the kept grant it was started with; empty: the user is asked
  platform::gobject::ObjectRef<GstElement> pipeline;
};

GDBusConnection* bus = nullptr;
GDBusNodeInfo* interfaces = nullptr;
std::map<std::string, Session> sessions;
gboolean cancelStart = FALSE, refuseGrants = FALSE;
guint32 closeAfterSeconds = 0, prompts = 0, streams = 0;

// Plays the test pattern into a PipeWire node of the session's own; the node's id once
// `pw-dump` lists it (0 if it never does).
guint32 publishStream(Session& session) {
  session.number = ++streams;
  const std::string name = "sorn-mock-screencast-" + std::to_string(session.number);
  session.pipeline = platform::gobject::ObjectRef<GstElement>::retain(gst_parse_launch(
      ("videotestsrc is-live=true pattern=ball ! "
       "video/x-raw,format=BGRx,width=1280,height=720,framerate=30/1 ! "
       "pipewiresink mode=provide sync=false stream-properties=\"props,media.class=Video/Source,node.name=" +
       name + "\"")
          .c_str(),
      nullptr));
  gst_element_set_state(session.pipeline.get(), GST_STATE_PLAYING);
  for (int attempt = 0; attempt < 200; ++attempt, g_usleep(50000)) {
    g_autofree gchar* output = nullptr;
    g_spawn_command_line_sync("pw-dump", &output, nullptr, nullptr, nullptr);
    const auto graph = nlohmann::json::parse(output != nullptr ? output : "", nullptr, false);
    for (const auto& object : graph.is_array() ? graph : nlohmann::json::array()) {
      if (object.value(nlohmann::json::json_pointer("/info/props/node.name"), std::string()) == name)
        return object.value("id", guint32{0});
    }
  }
  return 0;
}

// Stops the session's stream and forgets it; `announce` emits Closed (the desktop ended it).
void endSession(const std::string& path, bool announce) {
  const auto ended = sessions.extract(path);
  if (ended.empty()) return;
  if (ended.mapped().pipeline) gst_element_set_state(ended.mapped().pipeline.get(), GST_STATE_NULL);
  if (announce)
    g_dbus_connection_emit_signal(bus, nullptr, path.c_str(), interfaces->interfaces[2]->name, "Closed",
                                  nullptr, nullptr);
  g_dbus_connection_unregister_object(bus, ended.mapped().registration);
}

// The user's answer to Start: (response, results).
GVariant* start(Session& session) {
  if (session.grant.empty()) ++prompts;
  if (cancelStart) return g_variant_new_parsed("(uint32 1, @a{sv} {})");
  const guint32 node = publishStream(session);
  if (closeAfterSeconds > 0) {
    g_timeout_add_seconds(
        closeAfterSeconds,
        [](gpointer number) {
          for (const auto& [path, ended] : sessions) {
            if (ended.number == GPOINTER_TO_UINT(number)) return endSession(path, true), G_SOURCE_REMOVE;
          }
          return G_SOURCE_REMOVE;
        },
        GUINT_TO_POINTER(session.number));
  }
  // Every choice is kept until it is revoked.
  if (session.grant.empty()) session.grant = "grant-" + std::to_string(session.number);
  return g_variant_new_parsed(
      "(uint32 0, {'streams': <[(%u, @a{sv} {})]>, 'persist_mode': <uint32 2>, "
      "'restore_data': <('sorn-mock', uint32 1, <%s>)>})",
      node, session.grant.c_str());
}

void onCall(GDBusConnection*, const gchar*, const gchar* objectPath, const gchar*, const gchar* methodName,
            GVariant* arguments, GDBusMethodInvocation* invocation, gpointer) {
  const std::string method = methodName;
  if (method == "Close") endSession(objectPath, false);
  if (method == "Configure")
    g_variant_get(arguments, "(bub)", &cancelStart, &closeAfterSeconds, &refuseGrants);
  if (method == "Close" || method == "Configure")
    return g_dbus_method_invocation_return_value(invocation, nullptr);
  if (method == "Stats")
    return g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", prompts));
  const gchar* path = nullptr;
  g_variant_get_child(arguments, 1, "&o", &path);
  g_autoptr(GVariant) options = g_variant_get_child_value(arguments, g_variant_n_children(arguments) - 1);
  GVariant* reply = nullptr;  // answered with no results when left empty
  if (method == "CreateSession") {
    static const GDBusInterfaceVTable vtable{&onCall, nullptr, nullptr, {}};
    sessions[path].registration = g_dbus_connection_register_object(bus, path, interfaces->interfaces[2],
                                                                    &vtable, nullptr, nullptr, nullptr);
  } else if (method == "SelectSources") {
    g_autoptr(GVariant) grant = nullptr;
    if (g_variant_lookup(options, "restore_data", "(&suv)", nullptr, nullptr, &grant) && !refuseGrants &&
        g_variant_is_of_type(grant, G_VARIANT_TYPE_STRING))
      sessions[path].grant = g_variant_get_string(grant, nullptr);
  } else {
    reply = start(sessions[path]);
  }
  g_dbus_method_invocation_return_value(
      invocation, reply != nullptr ? reply : g_variant_new_parsed("(uint32 0, @a{sv} {})"));
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  g_autoptr(GDBusConnection) connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(kInterfaces, nullptr);
  if (connection == nullptr || node == nullptr) return 1;
  bus = connection;
  interfaces = node;
  // Monitors and windows, the cursor hidden or embedded; version 4 keeps grants.
  static const GDBusInterfaceVTable vtable{
      &onCall,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError**,
         gpointer) { return g_variant_new_uint32(g_str_equal(property, "version") ? 4 : 3); },
      nullptr,
      {}};
  for (int i = 0; i < 2; ++i)
    g_dbus_connection_register_object(bus, kPath, node->interfaces[i], &vtable, nullptr, nullptr, nullptr);
  g_bus_own_name_on_connection(bus, "org.sorn.test.ScreenCastMock", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                               nullptr, nullptr, nullptr);
  g_autoptr(GMainLoop) loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);
}
