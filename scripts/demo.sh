#!/usr/bin/env bash
# Installs what is missing, builds, creates the demo database and its login
# settings inside the build tree, and starts the utility on them.
# Without a display it stops at once, before the long steps, with exit code 4.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MESSAGE'
scripts/demo.sh: there is no display to show the utility's windows on
(DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset). Run the demo:
  - from a desktop session, or over "ssh -X" from one:   scripts/demo.sh
  - on a virtual screen, as a smoke test (nothing to see): xvfb-run -a scripts/demo.sh
  - on Qt's VNC platform, to view it from another machine with a VNC viewer
    on port 5900:                                        QT_QPA_PLATFORM=vnc scripts/demo.sh
    Warning: the VNC server has no password and listens on every network
    interface; anyone who reaches the port sees and drives the windows.
MESSAGE
  exit 4
fi
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target gstconvert demo
XDG_CONFIG_HOME="$PWD/build/demo/config" exec build/gstconvert "$@"
