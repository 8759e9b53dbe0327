#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then the threaded
# tests under ThreadSanitizer, then everything (and a short run of each fuzz target) under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
JOBS=$(nproc)

echo "== build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSV_WERROR=ON
cmake --build build -j "$JOBS"
(cd build && ctest --output-on-failure -j "$JOBS" --timeout 300)

echo "== ThreadSanitizer (threaded tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSV_WERROR=ON \
  -DFSV_SANITIZE=thread
cmake --build build-tsan -j "$JOBS"
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure -j "$JOBS" -L threaded --timeout 600)

echo "== AddressSanitizer + UBSan, fuzz targets"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSV_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DFSV_SANITIZE=address,undefined -DFSV_FUZZ=ON
cmake --build build-asan -j "$JOBS"
(cd build-asan && ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
  ctest --output-on-failure -j "$JOBS" --timeout 600)
