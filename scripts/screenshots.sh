#!/usr/bin/env bash
# Writes docs/screenshots/*.png: the viewer's windows as a user sees them, driven against two
# recorder-sim instances under Xvfb (offscreen when Xvfb is missing).
#   scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: the data folder links to the build's skin, and a relative link would not resolve.
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
# A sanitizer build under Xvfb: the display's D-Bus library keeps a buffer to the end.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
OUT=$ROOT/docs/screenshots
cmake --build "$BUILD" --target viewer-screenshots recorder-sim fsv fsv_skins >/dev/null

WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
export FARSIGHT_HOME=$WORK/home FARSIGHT_CONFIG=$WORK/config
mkdir -p "$FARSIGHT_HOME" "$FARSIGHT_CONFIG"
# The skin the build drew, found in the data folder first.
ln -s "$BUILD/Metal_Style" "$FARSIGHT_HOME/Metal_Style"

"$BUILD/sim/recorder-sim" --generate "$WORK/rec" >/dev/null
start_sim() {  # NAME -> prints HOST:PORT
  local log=$WORK/sim-$RANDOM.out
  "$BUILD/sim/recorder-sim" --recordings "$WORK/rec" --user admin --password pw \
    --name "$1" --listen 127.0.0.1:0 --delay-ms 40 >"$log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 100); do
    if grep -q '^listening on ' "$log"; then sed -n 's/^listening on //p' "$log" | head -1; return; fi
    sleep 0.1
  done
  echo "recorder-sim did not start" >&2; exit 1
}
YARD=$(start_sim "Yard DVR")
LOBBY=$(start_sim "Lobby DVR")

# An address book with the two recorders, written by fsv.
"$BUILD/cli/fsv" book add "Yard gate" "${YARD%:*}" -u admin -p pw --port "${YARD##*:}" --group "Main site" >/dev/null
"$BUILD/cli/fsv" book add "Lobby" "${LOBBY%:*}" -u admin -p pw --port "${LOBBY##*:}" --group "Main site" >/dev/null
"$BUILD/cli/fsv" book add "Warehouse" 192.0.2.10 -u Guest >/dev/null

mkdir -p "$OUT"
# Four of the generated recordings play in the main window's panels.
export FSV_SCREENSHOT_AVI=$WORK/rec
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD/tests/ui/viewer-screenshots" "$OUT" "$YARD" "$LOBBY"
else
  QT_QPA_PLATFORM=offscreen "$BUILD/tests/ui/viewer-screenshots" "$OUT" "$YARD" "$LOBBY"
fi

# The skin at each panel width (the screen size picks it): connected, four panels playing.
if command -v xvfb-run >/dev/null; then
  for geometry in 800x600 1024x768 1280x1024; do
    width=${geometry%x*}
    rm -f "$FARSIGHT_CONFIG/FarsightViewer.ini" "$FARSIGHT_CONFIG/KorSetAppPos.ini"
    mkdir -p "$WORK/shots-$width"
    xvfb-run -a -s "-screen 0 ${geometry}x24" \
      "$BUILD/tests/ui/viewer-screenshots" "$WORK/shots-$width" "$YARD" "$LOBBY" >/dev/null
    cp "$WORK/shots-$width/main-window.png" "$OUT/skin-$width.png"
  done
  rm -f "$FARSIGHT_CONFIG/FarsightViewer.ini" "$FARSIGHT_CONFIG/KorSetAppPos.ini"
fi

# The browsing windows: event list, period dialog, download list and history.
cmake --build "$BUILD" --target browse-screenshots >/dev/null
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD/tests/ui_browse/browse-screenshots" "$OUT"
else
  QT_QPA_PLATFORM=offscreen "$BUILD/tests/ui_browse/browse-screenshots" "$OUT"
fi

# The archive window over a small catalog (drawn by its test).
cmake --build "$BUILD" --target test_ui_archive >/dev/null
if command -v xvfb-run >/dev/null; then
  FSV_SCREENSHOT_DIR="$OUT" xvfb-run -a -s "-screen 0 1024x768x24" \
    "$BUILD/tests/ui_browse/test_ui_archive" >/dev/null
else
  FSV_SCREENSHOT_DIR="$OUT" QT_QPA_PLATFORM=offscreen "$BUILD/tests/ui_browse/test_ui_archive" >/dev/null
fi
