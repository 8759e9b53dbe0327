#!/usr/bin/env bash
# The demo: installs what is missing, builds, generates sample recordings, starts recorder-sim
# on 127.0.0.1 and shows fsv at work against it: the recorder's contents, the recordings of a
# period, and a download with progress bars that survives being run twice (the second run
# finds everything already there). With a display (DISPLAY set) it opens FarsightViewer on the
# same recorder, in the address book as "Demo recorder", instead of the fsv tour.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
TARGETS=(fsv recorder-sim KtCrypto)
if [ -n "${DISPLAY:-}" ]; then TARGETS+=(FarsightViewer fsv_skins); fi
cmake --build build -j "$(nproc)" --target "${TARGETS[@]}"

DEMO=${DEMO_DIR:-$PWD/demo-data}
SIM=build/sim/recorder-sim
FSV=build/cli/fsv
rm -rf "$DEMO"
mkdir -p "$DEMO"
export FARSIGHT_HOME="$DEMO/home" FARSIGHT_CONFIG="$DEMO/config"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Sample recordings (real MJPEG and MPEG-4 AVI files, WAV audio)"
"$SIM" --generate "$DEMO/recordings"
find "$DEMO/recordings" -type f | sort | head -n 12
echo "..."

step "recorder-sim on 127.0.0.1"
"$SIM" --listen 127.0.0.1:0 --recordings "$DEMO/recordings" --name "Demo recorder" \
  --user admin --password demo --protocol 35 >"$DEMO/sim.log" 2>&1 &
SIM_PID=$!
trap 'kill $SIM_PID 2>/dev/null; wait $SIM_PID 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q '^listening on' "$DEMO/sim.log" && break; sleep 0.1; done
ADDR=$(sed -n 's/^listening on //p' "$DEMO/sim.log" | head -n 1)
echo "listening on $ADDR"
export FSV_PASSWORD=demo

step "The address book"
"$FSV" book add "Demo recorder" "${ADDR%:*}" --port "${ADDR##*:}" -u admin -p demo
"$FSV" book list

if [ -n "${DISPLAY:-}" ]; then
  step "FarsightViewer: Address Book (Ctrl+2), pick \"Demo recorder\", Connect"
  echo "password: demo. recorder-sim stops when the viewer closes."
  build/app/FarsightViewer
  exit 0
fi

step "fsv info $ADDR -u admin"
"$FSV" info "$ADDR" -u admin

FIRST=$("$FSV" info "$ADDR" -u admin --json | sed -n 's/.*"\([0-9]\{8\}\)".*/\1/p' | sort | head -n 1)
LAST=$("$FSV" info "$ADDR" -u admin --json | sed -n 's/.*"\([0-9]\{8\}\)".*/\1/p' | sort | tail -n 1)
FROM="${FIRST:0:4}-${FIRST:4:2}-${FIRST:6:2} 00:00:00"
TO="${LAST:0:4}-${LAST:4:2}-${LAST:6:2} 23:59:59"

step "fsv events: every camera, $FROM to $TO"
"$FSV" events "$ADDR" -u admin --camera all --audio all --from "$FROM" --to "$TO"

step "fsv download: cameras 1 and 2 as the recorder's files (mode file)"
"$FSV" download "$ADDR" -u admin --camera 1,2 --from "$FROM" --to "$TO" -o "$DEMO/downloads"

step "fsv download: camera 3 as AVI written frame by frame (mode avi)"
"$FSV" download "$ADDR" -u admin --camera 3 --from "$FROM" --to "$TO" -o "$DEMO/downloads" \
  --mode avi

step "The same again: nothing to fetch twice"
"$FSV" download "$ADDR" -u admin --camera 1,2 --from "$FROM" --to "$TO" -o "$DEMO/downloads"

step "What arrived"
find "$DEMO/downloads" -type f | sort
one=$(find "$DEMO/downloads" -name '*.avi' | sort | tail -n 1)
"$FSV" probe "$one" --decode

echo
echo "Everything is in $DEMO. Run the tests with: ./scripts/test.sh"
