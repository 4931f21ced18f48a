#!/usr/bin/env bash
# From pressing "Join voice" on the dashboard to the demo service's voice peer reporting
# the call connected, in the demo build's QtWebEngine app, once per round:
#   voice-bench.sh DEMO_BIN_DIR ROUNDS
# prints "ROUND join-to-connected MILLISECONDS" per round. Needs a display and a session
# bus; takes port 8765, as the demo build's dashboard URL fixes it. The press goes through
# the dashboard's page actions, which the page polls every 200 ms: half of that, on
# average, is in each figure.
set -uo pipefail
bin=$1
rounds=$2
base="http://localhost:8765"
work=$(mktemp -d /tmp/sorn-voice-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--allow-loopback-in-peer-connection --use-fake-device-for-media-stream"
milliseconds() { echo $(($(date +%s%N) / 1000000)); }
post() { curl -sf -o /dev/null -X POST -H 'Content-Type: application/json' -d "$1" "$base/demo/page-actions"; }

curl -s -o /dev/null "$base/" && { echo "port 8765 is taken" >&2; exit 1; }
"$bin/sorn-demo-service" --port 8765 >"$work/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do curl -s -o /dev/null "$base/sorn/dashboard" && break; sleep 0.1; done
for round in $(seq "$rounds"); do
  export XDG_DATA_HOME="$work/$round/data" XDG_CACHE_HOME="$work/$round/cache"
  "$bin/sorn-qtwebengine" >"$work/app.log" 2>&1 &
  app=$!
  post '{"type":"bench-probe"}'
  for _ in $(seq 300); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' "$base/demo/page-actions/next")" = 204 ] && break
    sleep 0.1
  done
  started=$(milliseconds)
  post '{"click":"joinVoice"}'
  connected=""
  for _ in $(seq 1000); do
    if curl -s "$base/demo/voice/peers" | grep -q '"state":"connected"'; then connected=$(milliseconds); break; fi
    sleep 0.01
  done
  kill -TERM "$app"
  wait "$app" 2>/dev/null
  [ -n "$connected" ] || { echo "round $round: the call never connected" >&2; exit 1; }
  echo "$round join-to-connected $((connected - started))"
  # The peer ends the call once no audio comes from the closed app.
  for _ in $(seq 150); do curl -s "$base/demo/voice/peers" | grep -q '"peers":\[\]' && break; sleep 0.1; done
done
