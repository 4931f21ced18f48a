#!/usr/bin/env bash
# The demo configuration installed into a temporary prefix and used from there alone: its
# files all inside the prefix and valid for the desktop, the session scenario of session.sh
# with the installed programs. Everything it installed is inside the prefix, so removing the
# prefix removes it all.
#   installed.sh DEMO_BUILD_DIR
set -uo pipefail
here=$(dirname "$0")
build=$1
[ -x "$build/bin/sorn-demo-service" ] || { echo "SKIP: build the demo preset first (scripts/test does)"; exit 77; }
prefix=$(mktemp -d /tmp/sorn-prefix-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
# A prefix outside /usr and the home folder keeps the autostart entry inside it too.
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt") && fail "installed outside the prefix: $outside"
[ -e "$prefix/bin/sorn-demo-service" ] && fail "the demo service was installed"
grep -qx "Exec=$prefix/bin/sorn-widgets" "$prefix/etc/xdg/autostart/sorn-widgets.desktop" ||
  fail "the autostart entry does not run the installed widget host"
# Debian 12's validator predates SingleMainWindow (desktop entry 1.5) and reports it alone.
invalid=$(desktop-file-validate "$prefix"/share/applications/*.desktop "$prefix"/etc/xdg/autostart/*.desktop |
  grep -v 'key "SingleMainWindow"') && fail "a desktop entry is not valid: $invalid"
appstreamcli validate-tree --no-net "$prefix" || fail "the AppStream metadata is not valid"
"$prefix/bin/sorn-widgets" --snapshot "$prefix/snapshots" && [ -s "$prefix/snapshots/SornVoiceWidget-systemMedium.png" ] ||
  fail "the installed widget host wrote no snapshot"

# From the installed tree only: the chooser finds the installed extension and its indicator.
PATH="$prefix/bin:$PATH" XDG_DATA_DIRS="$prefix/share:/usr/share" \
  "$here/session.sh" x11 "$prefix/bin" "$build/bin" || exit 1
echo "PASS: installed"
