#!/usr/bin/env bash
# command-lines.sh VERSION PROGRAM... -- MANPAGE...
# Each program, without a display: --version prints "<name> VERSION", --help its usage and
# description, both with status 0; an unknown option is an error with a message and a
# non-zero status. Each manual page formats without a single warning.
set -uo pipefail
version=$1
shift
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

while [ "$1" != "--" ]; do
  program=$1
  shift
  name=$(basename "$program")
  case $name in sorn-qtwebengine | sorn-webkitgtk) name=sorn ;; esac
  run() { env -u DISPLAY -u WAYLAND_DISPLAY LC_ALL=C.UTF-8 LANGUAGE= "$program" "$@" 2>&1; }

  out=$(run --version) || fail "$program --version: status $?"
  [ "$out" = "$name $version" ] || fail "$program --version printed '$out'"
  out=$(run --help) || fail "$program --help: status $?"
  grep -q "$name" <<<"$out" && grep -q -- "--version" <<<"$out" && grep -q "Sorn" <<<"$out" ||
    fail "$program --help printed: $out"
  out=$(run --no-such-option) && fail "$program --no-such-option: status 0"
  grep -q "no-such-option" <<<"$out" || fail "$program --no-such-option printed '$out'"
done
shift

for page in "$@"; do
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^NAME" || fail "$page: no NAME section"
done

[ "$failures" -eq 0 ] && echo "all command lines and manual pages as expected"
exit "$((failures > 0))"
