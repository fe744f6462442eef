#!/usr/bin/env bash
# Renders the firm selection, login and conversion windows from the demo
# databases into docs/screenshots/ (offscreen: no display needed).
# BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja >/dev/null
cmake --build "$build_dir" --target gst_screenshots demo
runtime=$(mktemp -d "${TMPDIR:-/tmp}/gst-shots.XXXXXX")
trap 'rm -rf "$runtime"' EXIT
XDG_CONFIG_HOME="$PWD/$build_dir/demo/config" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
  "$build_dir/bench/gst_screenshots" docs/screenshots
