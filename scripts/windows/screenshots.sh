#!/usr/bin/env bash
# Renders the three windows of the Windows build under wine into
# docs/screenshots/windows/ (after scripts/windows/build.sh), as
# scripts/screenshots.sh does on Linux: from the demo databases, which the
# Linux build makes, with the fonts the suite stands in for Windows' own, on
# wine's windows platform in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=scripts/windows/prefix.sh
. scripts/windows/prefix.sh

if [ "${GST_IN_DISPLAY:-}" != 1 ]; then
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target demo
  cmake --build build-windows --target gst_screenshots
  GST_IN_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
prepare_prefix
# The demo's login settings name its folder by its Unix path, which the
# Windows program reads as a path on drive Z:, where wine keeps the host's.
status=0
XDG_CONFIG_HOME="$root/build/demo/config" wine build-windows/bench/gst_screenshots.exe \
  "$(windows_path "$root/docs/screenshots/windows")" || status=$?
wineserver -k || true
exit $status
