#!/usr/bin/env bash
# Portal capture figures of the broadcast extension, measured in the same run, inside a portal
# rig (the real desktop portal, PipeWire and a mock screen-cast backend whose every stream is a
# 1280x720 30 fps test pattern; sorn-portal-session brings it up):
# - CPU time per second of sorn-broadcast --capture=portal (frames through the pipe, a screen
#   session open on the demo service), against bench_portal_capture bare: a session of its
#   own through the same portal, its stream captured the same way into a bare appsink;
# - the time from the portal's Start answer to the first frame in the extension host's
#   handler (bench_portal_capture host: the host in-process) and in the bare appsink.
# Ours and the bare capture run side by side over the same seconds, several rounds.
#
# usage: bench/broadcast/capture/portal-capture-bench.sh [BUILD_DIR] [SECONDS] [ROUNDS]
#   BUILD_DIR defaults to build/release; the rig's runner is SORN_PORTAL_SESSION, by default
#   build/default/bin/sorn-portal-session (cmake --build --preset default --target sorn-portal-session)
set -euo pipefail

build=$(realpath "${1:-build/release}")
seconds=${2:-10}
rounds=${3:-3}
runner=${SORN_PORTAL_SESSION:-$(dirname "$build")/default/bin/sorn-portal-session}

for program in "$build/bin/sorn-broadcast" "$build/bin/sorn-demo-service" "$build/bin/bench_portal_capture" \
  "$runner"; do
  [ -x "$program" ] || { echo "missing $program: build the tree first" >&2; exit 1; }
done

if [ -z "${SORN_PORTAL_BENCH_INSIDE:-}" ]; then
  export SORN_PORTAL_BENCH_INSIDE=1
  exec "$runner" -- "$0" "$build" "$seconds" "$rounds"
fi

# shellcheck source=bench/broadcast/capture/common.sh
source "$(dirname "$0")/common.sh"

start_demo_service "$build"
# The restore token the extension keeps between shares, private to this run.
export XDG_STATE_HOME="$work/state"

# wait_for_line FILE TEXT: waits up to 10 s for a line holding TEXT.
wait_for_line() {
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  echo "no '$2' in $1:" >&2
  cat "$1" >&2
  return 1
}
first_frame_ms() { awk '$1 == "first-frame-ms" { print $2; exit }' "$1"; }

printf '%-6s %-28s %10s %10s %10s\n' round program "cpu-s/s" "rss-MiB" "peak-MiB"
bare_total=0
ours_total=0
for round in $(seq "$rounds"); do
  # The host alone, from Start to its first frame; it ends itself there.
  timeout 30 "$build/bin/bench_portal_capture" host >"$work/host.out"
  host_ms=$(first_frame_ms "$work/host.out")

  start bare "$build/bin/bench_portal_capture" bare
  bare_pid=$started_pid
  wait_for_line "$work/bare.out" first-frame-ms
  bare_ms=$(first_frame_ms "$work/bare.out")
  start ours "$build/bin/sorn-broadcast" --capture=portal --stats
  ours_pid=$started_pid
  wait_for_line "$work/ours.out" "framesReceived=[1-9]"
  sleep 1
  bare_before=$(cpu_ns "$bare_pid")
  ours_before=$(cpu_ns "$ours_pid")
  sleep "$seconds"
  bare_cpu=$(echo "($(cpu_ns "$bare_pid") - $bare_before) / 1000000000 / $seconds" | bc -l)
  ours_cpu=$(echo "($(cpu_ns "$ours_pid") - $ours_before) / 1000000000 / $seconds" | bc -l)
  bare_rss=$(status_kib "$bare_pid" VmRSS)
  bare_hwm=$(status_kib "$bare_pid" VmHWM)
  ours_rss=$(status_kib "$ours_pid" VmRSS)
  ours_hwm=$(status_kib "$ours_pid" VmHWM)
  kill -TERM "$bare_pid" "$ours_pid"
  wait "$bare_pid" "$ours_pid" || true
  frames=$(grep -o 'framesReceived=[0-9]*' "$work/ours.out" | tail -1)
  printf '%-6s %-28s %10.4f %10.1f %10.1f\n' "$round" "bare pipewiresrc ! appsink" "$bare_cpu" \
    "$(mib "$bare_rss")" "$(mib "$bare_hwm")"
  printf '%-6s %-28s %10.4f %10.1f %10.1f  %s\n' "$round" "sorn-broadcast" "$ours_cpu" "$(mib "$ours_rss")" \
    "$(mib "$ours_hwm")" "$frames"
  printf '%-6s %-28s %10s ms\n' "$round" "first frame: extension host" "$host_ms"
  printf '%-6s %-28s %10s ms\n' "$round" "first frame: bare appsink" "$bare_ms"
  bare_total=$(echo "$bare_total + $bare_cpu" | bc -l)
  ours_total=$(echo "$ours_total + $ours_cpu" | bc -l)
done
printf 'CPU time ratio, sorn-broadcast / bare appsink: %.3f\n' "$(echo "$ours_total / $bare_total" | bc -l)"
