# shellcheck shell=bash disable=SC2034,SC2154  # sets and reads variables of the script that sources it
# What the capture scripts share; sourced. A private folder for the run, $work, goes away
# with the script, and so does the demo service started below.

work=$(mktemp -d)
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Starts the demo service on a free port and writes a store holding its credentials into a
# private data folder, so that sorn-broadcast opens a screen session as it does for a user;
# sets demo_pid.
start_demo_service() {
  local build=$1
  export XDG_DATA_HOME="$work/data"
  "$build/bin/sorn-demo-service" --port 0 >"$work/demo.out" 2>&1 &
  demo_pid=$!
  for _ in $(seq 100); do grep -q 'listening on' "$work/demo.out" && break; sleep 0.05; done
  local port
  port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/demo.out" | head -1 | cut -d: -f2)
  local suite="$XDG_DATA_HOME/app-groups/group.com.tarnwell.sorn"
  mkdir -p -m 700 "$XDG_DATA_HOME/app-groups" "$suite"
  sqlite3 "$suite/suite.sqlite3" "
    CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;
    INSERT OR REPLACE INTO entries VALUES
      ('screen.accessToken', 'demo-token-7f3a'), ('screen.channelId', 'lounge'),
      ('screen.primarySessionId', 'voice-session-1'),
      ('screen.apiBase', 'http://127.0.0.1:$port/v1/api');"
  chmod 600 "$suite/suite.sqlite3"
}

# CPU time of all the process's threads in nanoseconds (schedstat's first field), far
# finer than the clock ticks of /proc/PID/stat at these small figures.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%d\n", sum }'; }
status_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
mib() { echo "${1:-0} / 1024" | bc -l; }

# Starts a program in the background, output to $work/<name>.out and .err; sets started_pid.
start() {
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  started_pid=$!
}
