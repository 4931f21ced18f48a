#!/usr/bin/env bash
# Capture figures of the broadcast extension, measured in the same run:
# - CPU time per second of sorn-broadcast sharing a 1920x1080 X screen at 30 frames a
#   second (ximagesrc use-damage=false into its appsink, frames through the pipe, a
#   screen session open on the demo service), against the same capture into a bare
#   sink (gst-launch-1.0 ... ! fakesink);
# - the extension's resident memory (VmRSS, and its peak VmHWM), and the indicator's,
#   which runs as a process of its own.
# The two are measured turn about, several rounds, on a virtual X screen of that size.
#
# usage: bench/broadcast/capture/capture-bench.sh [BUILD_DIR] [SECONDS] [ROUNDS]
#   BUILD_DIR defaults to build/release (cmake --preset release && cmake --build --preset release)
set -euo pipefail

build=$(realpath "${1:-build/release}")
seconds=${2:-10}
rounds=${3:-3}

if [ -z "${SORN_CAPTURE_BENCH_INSIDE:-}" ]; then
  export SORN_CAPTURE_BENCH_INSIDE=1
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$build" "$seconds" "$rounds"
fi

for program in "$build/bin/sorn-broadcast" "$build/bin/sorn-demo-service"; do
  [ -x "$program" ] || { echo "missing $program: build the tree first" >&2; exit 1; }
done

work=$(mktemp -d)
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The demo service and a store holding its credentials, in a private data folder.
export XDG_DATA_HOME="$work/data"
"$build/bin/sorn-demo-service" --port 0 >"$work/demo.out" 2>&1 &
demo_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/demo.out" && break; sleep 0.05; done
port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/demo.out" | head -1 | cut -d: -f2)
suite="$XDG_DATA_HOME/app-groups/group.com.tarnwell.sorn"
mkdir -p -m 700 "$XDG_DATA_HOME/app-groups" "$suite"
sqlite3 "$suite/suite.sqlite3" "
  CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;
  INSERT OR REPLACE INTO entries VALUES
    ('screen.accessToken', 'demo-token-7f3a'), ('screen.channelId', 'lounge'),
    ('screen.primarySessionId', 'voice-session-1'),
    ('screen.apiBase', 'http://127.0.0.1:$port/v1/api');"
chmod 600 "$suite/suite.sqlite3"

# CPU time of all the process's threads in nanoseconds (schedstat's first field), far
# finer than the clock ticks of /proc/PID/stat at these small figures.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%d\n", sum }'; }
status_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# Runs the command for a warm-up second plus $seconds; prints "cpu_per_second rss_kib
# hwm_kib child_rss_kib" (the child: the indicator, 0 when there is none).
measure() {
  "$@" >"$work/out" 2>"$work/err" &
  local pid=$!
  sleep 1
  local before after
  before=$(cpu_ns "$pid")
  sleep "$seconds"
  after=$(cpu_ns "$pid")
  local rss hwm
  rss=$(status_kib "$pid" VmRSS)
  hwm=$(status_kib "$pid" VmHWM)
  local child_rss
  child_rss=$(for child in $(cat "/proc/$pid/task/$pid/children" 2>/dev/null); do status_kib "$child" VmRSS; done | head -1)
  kill -TERM "$pid"
  wait "$pid" || true
  awk -v t="$((after - before))" -v hz=1e9 -v s="$seconds" -v rss="$rss" -v hwm="$hwm" -v child="${child_rss:-0}" \
    'BEGIN { printf "%.4f %d %d %d\n", t / hz / s, rss, hwm, child }'
}

printf '%-6s %-28s %10s %10s %10s\n' round program "cpu-s/s" "rss-MiB" "peak-MiB"
bare_total=0; ours_total=0
for round in $(seq "$rounds"); do
  read -r bare bare_rss bare_hwm _ < <(measure gst-launch-1.0 -q ximagesrc use-damage=false \
    ! video/x-raw,framerate=30/1 ! fakesink sync=false)
  printf '%-6s %-28s %10s %10.1f %10.1f\n' "$round" "bare sink (gst-launch)" "$bare" \
    "$(echo "$bare_rss / 1024" | bc -l)" "$(echo "$bare_hwm / 1024" | bc -l)"
  read -r ours ours_rss ours_hwm indicator_rss < <(measure "$build/bin/sorn-broadcast" --capture=screen --stats)
  frames=$(grep -o 'framesReceived=[0-9]*' "$work/out" | tail -1)
  printf '%-6s %-28s %10s %10.1f %10.1f  %s, indicator %.1f MiB\n' "$round" "sorn-broadcast" "$ours" \
    "$(echo "$ours_rss / 1024" | bc -l)" "$(echo "$ours_hwm / 1024" | bc -l)" "$frames" \
    "$(echo "$indicator_rss / 1024" | bc -l)"
  bare_total=$(echo "$bare_total + $bare" | bc -l)
  ours_total=$(echo "$ours_total + $ours" | bc -l)
done
printf 'CPU time ratio, sorn-broadcast / bare sink: %.3f\n' "$(echo "$ours_total / $bare_total" | bc -l)"
