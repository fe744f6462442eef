#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite headless.
# GST_SANITIZE=1 builds into build-asan with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=build
extra=()
if [ "${GST_SANITIZE:-0}" = "1" ]; then
  build_dir=build-asan
  extra=(-DGST_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DGST_BUILD_BENCH=OFF)
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:halt_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
else
  extra=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
cmake -S . -B "$build_dir" -G Ninja "${extra[@]}"
cmake --build "$build_dir"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 300
