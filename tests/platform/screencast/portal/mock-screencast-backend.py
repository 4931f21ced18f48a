#!/usr/bin/python3
# A screen-cast backend for the desktop portal, for tests: every source the user "picks"
# is a 1280x720 30 fps test pattern that a GStreamer pipeline provides as a PipeWire node.
# Tests steer the user's next answer over its own interface (see portal-session.sh).
import dataclasses
import json
import subprocess
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gio, GLib, Gst  # noqa: E402

# The backend's methods take (request, session, app id, [parent window,] options) and
# answer (response, results).
SCREEN_CAST, MOCK, SESSION = Gio.DBusNodeInfo.new_for_xml("""<node>
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
<interface name="org.freedesktop.impl.portal.Session"><method name="Close"/><signal name="Closed"/>
</interface>
</node>""").interfaces


def answer(response, results):
    return GLib.Variant("(ua{sv})", (response, results))


@dataclasses.dataclass
class Session:
    registration: int = 0
    grant: str = ""  # the kept grant it was started with; empty: the user is asked
    pipeline: Gst.Element = None


# Methods are named as on the bus: the bus calls them by name.
class Backend:
    def __init__(self, bus):
        self.bus = bus
        self.sessions = {}
        self.cancel, self.close_after_seconds, self.refuse_grants = False, 0, False
        self.prompts = self.streams = 0
        for interface in (SCREEN_CAST, MOCK):
            bus.register_object("/org/freedesktop/portal/desktop", interface, self.call, self.property,
                                None)

    def call(self, bus, sender, path, interface, method, arguments, invocation):
        invocation.return_value(getattr(self, method)(path, *arguments.unpack()))

    def property(self, bus, sender, path, interface, name):
        # Monitors and windows, the cursor hidden or embedded; version 4 keeps grants.
        return GLib.Variant("u", 4 if name == "version" else 3)

    def Configure(self, path, cancel, close_after_seconds, refuse_grants):
        self.cancel, self.refuse_grants = cancel, refuse_grants
        self.close_after_seconds = close_after_seconds

    def Stats(self, path):
        return GLib.Variant("(u)", (self.prompts,))

    def CreateSession(self, path, request, session, app_id, options):
        self.sessions[session] = Session(self.bus.register_object(session, SESSION, self.call, None, None))
        return answer(0, {})

    def SelectSources(self, path, request, session, app_id, options):
        grant = options.get("restore_data", (None, None, None))[2]
        if isinstance(grant, str) and not self.refuse_grants:
            self.sessions[session].grant = grant
        return answer(0, {})

    def Start(self, path, request, session_path, app_id, parent_window, options):
        session = self.sessions[session_path]
        if not session.grant:
            self.prompts += 1
        if self.cancel:
            return answer(1, {})
        node = self.publish(session)
        if self.close_after_seconds > 0:
            # Once: end() returns nothing, which removes the timeout.
            GLib.timeout_add_seconds(self.close_after_seconds, self.end, session_path, True)
        # Every choice is kept until it is revoked.
        session.grant = session.grant or f"grant-{self.streams}"
        grant = GLib.Variant("(suv)", ("sorn-mock", 1, GLib.Variant("s", session.grant)))
        return answer(0, {"streams": GLib.Variant("a(ua{sv})", [(node, {})]),
                          "persist_mode": GLib.Variant("u", 2), "restore_data": grant})

    def Close(self, path):
        self.end(path, announce=False)

    def publish(self, session):
        """Plays the test pattern into a PipeWire node of the session's own; the node's id once
        pw-dump lists it (0 if it never does)."""
        self.streams += 1
        name = f"sorn-mock-screencast-{self.streams}"
        session.pipeline = Gst.parse_launch(
            "videotestsrc is-live=true pattern=ball ! "
            "video/x-raw,format=BGRx,width=1280,height=720,framerate=30/1 ! pipewiresink mode=provide "
            f'sync=false stream-properties="props,media.class=Video/Source,node.name={name}"')
        session.pipeline.set_state(Gst.State.PLAYING)
        for _ in range(200):
            for node in json.loads(subprocess.run(["pw-dump"], capture_output=True).stdout or "[]"):
                if ((node.get("info") or {}).get("props") or {}).get("node.name") == name:
                    return node["id"]
            time.sleep(0.05)
        return 0

    def end(self, path, announce):
        """Stops the session's stream and forgets it; `announce` emits Closed (the desktop ended it)."""
        session = self.sessions.pop(path, None)
        if session is None:
            return
        if session.pipeline:
            session.pipeline.set_state(Gst.State.NULL)
        if announce:
            self.bus.emit_signal(None, path, SESSION.name, "Closed", None)
        self.bus.unregister_object(session.registration)


Gst.init(None)
connection = Gio.bus_get_sync(Gio.BusType.SESSION)
backend = Backend(connection)
Gio.bus_own_name_on_connection(connection, "org.sorn.test.ScreenCastMock", Gio.BusNameOwnerFlags.NONE,
                               None, None)
GLib.MainLoop().run()
