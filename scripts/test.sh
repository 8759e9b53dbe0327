#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tests twice over, with sanitizers:
#  1. clang with AddressSanitizer and UndefinedBehaviorSanitizer: every test, plus a short run
#     of each fuzz target;
#  2. gcc with ThreadSanitizer: the tests labelled `threaded`. This pass builds only those test
#     programs and what they link and start (the fsv_threaded_tests target).
# Both builds treat warnings as errors, so each compiler's warnings are checked.
# The GoogleTest header and the Qt Widgets headers are precompiled once per build and reused by
# every test program and Qt target (cmake/Precompiled.cmake): parsing them cost more than
# compiling most of our own files. The larger libraries and test programs are compiled in
# batches of sources (unity builds, the list at the end of CMakeLists.txt).
# Objects go through ccache, so a second run in the same checkout rebuilds little. ccache keeps
# objects made with a precompiled header only when told that its macros may be trusted
# (pch_defines). A clone at another path reuses the objects of files compiled on their own; the
# precompiled headers, the objects made with them and the unity batches name absolute paths of
# their checkout, so that clone compiles them again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
JOBS=$(nproc)
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 \
  CCACHE_SLOPPINESS="include_file_mtime,include_file_ctime,time_macros,pch_defines"
START=$SECONDS

echo "== Layers: no include from a lower folder into a higher one"
bash scripts/check-layers.sh
echo "== Functions: none over about 80 lines"
python3 scripts/check-functions.py

echo "== AddressSanitizer + UBSan (clang), all tests and fuzz targets"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSV_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DFSV_SANITIZE=address,undefined -DFSV_FUZZ=ON
cmake --build build-asan -j "$JOBS"
echo "-- built in $((SECONDS - START)) s"
(cd build-asan && ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
  ctest --output-on-failure -j "$JOBS" --timeout 600)
echo "-- AddressSanitizer pass done at $((SECONDS - START)) s"

echo "== ThreadSanitizer (gcc), threaded tests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFSV_WERROR=ON \
  -DFSV_SANITIZE=thread
cmake --build build-tsan -j "$JOBS" --target fsv_threaded_tests
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --output-on-failure -j "$JOBS" -L threaded --timeout 600)
echo "-- both passes done in $((SECONDS - START)) s"
