#!/usr/bin/env bash
# sorn-portal-session -- COMMAND [ARGS...]: runs COMMAND in a desktop session of its own: a
# D-Bus session bus that activates nothing, PipeWire and WirePlumber without devices, the
# permission store, the real desktop portal and a mock screen-cast backend whose "user" picks
# a 1280x720 30 fps test pattern. Ends with COMMAND's status; 77 when a part is not installed.
# COMMAND steers the mock's user from the next Start on with
#   gdbus call --session --dest org.sorn.test.ScreenCastMock --object-path /org/freedesktop/portal/desktop
#     --method org.sorn.test.ScreenCastMock.Configure CANCEL CLOSE_AFTER_SECONDS REFUSE_GRANTS
# (e.g. false 2 true) and reads how often the user was asked with ...Stats.
set -uo pipefail
mock=@MOCK_BACKEND@
portal=/usr/libexec/xdg-desktop-portal
permission_store=/usr/libexec/xdg-permission-store
[ "${1:-}" = -- ] && [ $# -ge 2 ] || { echo "usage: sorn-portal-session -- COMMAND [ARGS...]" >&2; exit 2; }
shift
for program in dbus-daemon pipewire wireplumber pw-dump gdbus "$portal" "$permission_store" "$mock"; do
  command -v "$program" >/dev/null || { echo "sorn-portal-session: $program is not installed" >&2; exit 77; }
done

root=$(mktemp -d /tmp/sorn-portal-rig-XXXXXX)
pids=()
stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done
  rm -rf "$root"
}
trap stop_all EXIT
trap 'exit 1' TERM INT
fail() { echo "sorn-portal-session: $* did not come up" >&2; exit 1; }
# Each part dies with this script, even when it is killed.
start() { setpriv --pdeathsig KILL -- "$@" & pids+=($!); }
wait_for() {
  local deadline=$((SECONDS + 20))
  until "$@" >/dev/null 2>&1; do [ "$SECONDS" -lt "$deadline" ] || return 1; sleep 0.05; done
}
named() { gdbus wait --session --timeout 20 "$1" || fail "$1"; }

mkdir -m 700 "$root/runtime"
mkdir -p "$root/config/wireplumber/main.lua.d" "$root/config/wireplumber/bluetooth.lua.d" "$root/portals"
cat >"$root/session.conf" <<CONF
<busconfig><type>session</type><listen>unix:path=$root/runtime/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
CONF
# WirePlumber's own configuration with the device monitors off.
printf 'load_module("metadata")\ndefault_access.enable()\ndevice_defaults.enable()\nstream_defaults.enable()\n' \
  >"$root/config/wireplumber/main.lua.d/90-enable-all.lua"
echo >"$root/config/wireplumber/bluetooth.lua.d/90-enable-all.lua"
# The portal takes the backend whose UseIn names the current desktop.
printf '[portal]\nDBusName=org.sorn.test.ScreenCastMock\nInterfaces=org.freedesktop.impl.portal.ScreenCast;\nUseIn=sorn-portal-rig\n' \
  >"$root/portals/sorn-mock.portal"

unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
export XDG_RUNTIME_DIR="$root/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$root/runtime/bus" \
  DBUS_SYSTEM_BUS_ADDRESS="unix:path=$root/runtime/no-system-bus" XDG_CONFIG_HOME="$root/config" \
  XDG_DATA_HOME="$root/data" XDG_STATE_HOME="$root/state" XDG_CURRENT_DESKTOP=sorn-portal-rig \
  XDG_DESKTOP_PORTAL_DIR="$root/portals"

start dbus-daemon --nofork --nopidfile --config-file="$root/session.conf"
wait_for test -S "$root/runtime/bus" || fail "D-Bus"
start pipewire
wait_for test -S "$root/runtime/pipewire-0" || fail PipeWire
start wireplumber
wait_for bash -c "pw-dump | grep -q '\"application.name\": \"WirePlumber\"'" || fail WirePlumber
start "$permission_store" --replace && named org.freedesktop.impl.portal.PermissionStore
start "$mock" && named org.sorn.test.ScreenCastMock
start "$portal" --replace && named org.freedesktop.portal.Desktop

"$@"
