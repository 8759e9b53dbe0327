#!/usr/bin/env bash
# fsv info against a recorder that lists 65,535 cameras and against the same recorder listing
# 4, in the same run: wall time and peak resident memory of each, and the ratios.
# Run by hand:
#   bench/cli/info_many_cameras.sh [BUILD_DIR] [CAMERAS]
# BUILD_DIR defaults to build (a release build gives the figures worth quoting; a sanitizer
# build costs several times more of both).
set -euo pipefail
build=${1:-build}
cameras=${2:-65535}
sim=$build/sim/recorder-sim
fsv=$build/cli/fsv
for p in "$sim" "$fsv" /usr/bin/time; do
    [[ -x $p ]] || { echo "missing $p" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
"$sim" --generate "$work/rec" >/dev/null
export FARSIGHT_HOME=$work/home FARSIGHT_CONFIG=$work/home
mkdir -p "$work/home"

# Starts recorder-sim with extra options; prints its port.
start_sim() {
    local log=$work/sim-$#-$RANDOM.log
    "$sim" --recordings "$work/rec" --listen 127.0.0.1:0 "$@" >"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do
        if grep -q '^listening on' "$log"; then
            sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$log"
            return
        fi
        sleep 0.05
    done
    echo "recorder-sim did not start" >&2
    exit 1
}

# Runs fsv info; prints "seconds peak_kB cameras_listed".
measure() {
    local port=$1 out=$work/info-$1.txt stats=$work/time-$1.txt
    /usr/bin/time -f '%e %M' -o "$stats" "$fsv" info "127.0.0.1:$port" --wait 60 >"$out"
    echo "$(cat "$stats") $(grep -c '^camera ' "$out")"
}

normal=$(start_sim --cameras 4)
many=$(start_sim --cameras "$cameras")
read -r t0 m0 c0 <<<"$(measure "$normal")"
read -r t1 m1 c1 <<<"$(measure "$many")"
printf '%-24s %10s %12s %9s\n' "recorder" "wall s" "peak RSS MB" "cameras"
printf '%-24s %10s %12.1f %9s\n' "4 cameras" "$t0" "$(echo "$m0 / 1024" | bc -l)" "$c0"
printf '%-24s %10s %12.1f %9s\n' "$cameras cameras" "$t1" "$(echo "$m1 / 1024" | bc -l)" "$c1"
printf 'ratio: wall %.1fx, peak RSS %.1fx\n' "$(echo "$t1 / ($t0 + 0.001)" | bc -l)" \
    "$(echo "$m1 / $m0" | bc -l)"
