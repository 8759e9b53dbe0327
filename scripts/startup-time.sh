#!/usr/bin/env bash
# Start-up time of FarsightViewer to a drawn main window, under Xvfb (offscreen without it):
# the time from the start of the process to the first paint of the main window, over RUNS runs
# with a fresh data folder each, drawn with the Metal_Style skin of the build folder.
#   scripts/startup-time.sh [BUILD_DIR] [RUNS]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
RUNS=${2:-10}
cmake --build "$BUILD" --target FarsightViewer fsv_skins >/dev/null
WORK=$(mktemp -d)
XPID=
cleanup() { [ -n "$XPID" ] && kill "$XPID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
if command -v Xvfb >/dev/null; then
  for n in $(seq 90 120); do
    [ -e /tmp/.X11-unix/X$n ] || { DISPLAY_NUM=$n; break; }
  done
  Xvfb ":$DISPLAY_NUM" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XPID=$!
  export DISPLAY=":$DISPLAY_NUM" QT_QPA_PLATFORM=xcb
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUM" ] && break; sleep 0.1; done
else
  export QT_QPA_PLATFORM=offscreen
fi
export FARSIGHT_DEBUG=1
total=0
for i in $(seq "$RUNS"); do
  export FARSIGHT_HOME=$WORK/home$i FARSIGHT_CONFIG=$WORK/config$i
  log=$WORK/run$i.err
  : >"$log"
  start=$(date +%s%3N)
  "$BUILD/app/FarsightViewer" 2>"$log" &
  pid=$!
  for _ in $(seq 200); do grep -q 'main window drawn' "$log" && break; sleep 0.02; done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
  drawn=$(sed -n 's/.*main window drawn .* at \([0-9]*\)$/\1/p' "$log")
  [ -n "$drawn" ] || { echo "run $i: no drawn window"; cat "$log"; exit 1; }
  ms=$((drawn - start))
  echo "run $i: $ms ms"
  total=$((total + ms))
done
echo "mean: $((total / RUNS)) ms to a drawn main window ($QT_QPA_PLATFORM)"
