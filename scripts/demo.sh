#!/usr/bin/env bash
# Installs what is missing, builds, and shows what exists so far.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
echo
echo "Built:"
for f in build/ktcrypto/libKtCrypto.so build/sim/recorder-sim build/cli/fsv; do
  [ -e "$f" ] && echo "  $f"
done
echo "Run the tests with: ./scripts/test.sh"
