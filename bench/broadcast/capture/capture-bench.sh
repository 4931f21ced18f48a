#!/usr/bin/env bash
# Capture figures of the broadcast extension, measured in the same run:
# - CPU time per second of sorn-broadcast sharing a 1920x1080 X screen at 30 frames a
#   second (ximagesrc use-damage=false into its appsink, frames through the pipe, a
#   screen session open on the demo service), against the same capture into a bare
#   sink (gst-launch-1.0 ... ! fakesink);
# - the extension's resident memory (VmRSS, and its peak VmHWM), and the indicator's,
#   which runs as a process of its own.
# The two run side by side on a virtual X screen of that size, several rounds.
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

# shellcheck source=bench/broadcast/capture/common.sh
source "$(dirname "$0")/common.sh"

start_demo_service "$build"

child_rss_kib() {
  for child in $(cat "/proc/$1/task/$1/children" 2>/dev/null); do status_kib "$child" VmRSS; done | head -1
}

printf '%-6s %-24s %10s %10s %10s\n' round program "cpu-s/s" "rss-MiB" "peak-MiB"
bare_total=0
ours_total=0
for round in $(seq "$rounds"); do
  # Both run side by side over the same seconds, so the machine's load weighs on both.
  start bare gst-launch-1.0 -q ximagesrc use-damage=false ! video/x-raw,framerate=30/1 ! fakesink sync=false
  bare_pid=$started_pid
  start ours "$build/bin/sorn-broadcast" --capture=screen --stats
  ours_pid=$started_pid
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
  indicator_rss=$(child_rss_kib "$ours_pid")
  kill -TERM "$bare_pid" "$ours_pid"
  wait "$bare_pid" "$ours_pid" || true
  frames=$(grep -o 'framesReceived=[0-9]*' "$work/ours.out" | tail -1)
  printf '%-6s %-24s %10.4f %10.1f %10.1f\n' "$round" "bare sink (gst-launch)" "$bare_cpu" "$(mib "$bare_rss")" \
    "$(mib "$bare_hwm")"
  printf '%-6s %-24s %10.4f %10.1f %10.1f  %s, indicator process %.1f MiB\n' "$round" "sorn-broadcast" "$ours_cpu" \
    "$(mib "$ours_rss")" "$(mib "$ours_hwm")" "$frames" "$(mib "$indicator_rss")"
  bare_total=$(echo "$bare_total + $bare_cpu" | bc -l)
  ours_total=$(echo "$ours_total + $ours_cpu" | bc -l)
done
printf 'CPU time ratio, sorn-broadcast / bare sink: %.3f\n' "$(echo "$ours_total / $bare_total" | bc -l)"
