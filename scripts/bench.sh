#!/usr/bin/env bash
# Builds in Release and runs both benchmarks: the conversion behind the OK
# button against the sqlite3 shell (10,000, 100,000 and 1,000,000 products),
# and the start-up to the login window against a minimal Qt program, first on
# an Xvfb and window manager of its own (xcb), then offscreen.
# Arguments go to the conversion benchmark, e.g. --sizes 10000 --runs 3;
# --detail also shows every run and where the time goes in both benchmarks.
# BUILD_DIR chooses the build folder (default build-release).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${BUILD_DIR:-build-release}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" --target gst_bench_conversion gst_bench_startup
work=$(mktemp -d "${TMPDIR:-/tmp}/gst-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build_dir/bench/gst_bench_conversion" --work "$work" "$@"
echo
startup_args=()
for a in "$@"; do
  if [ "$a" = "--detail" ]; then startup_args+=(--detail); fi
done
"$build_dir/bench/gst_bench_startup" --work "$work" "${startup_args[@]}"
