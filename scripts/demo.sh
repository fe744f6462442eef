#!/usr/bin/env bash
# Installs what is missing, builds, creates the demo database and its login
# settings inside the build tree, and starts the utility on them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target gstconvert demo
XDG_CONFIG_HOME="$PWD/build/demo/config" exec build/gstconvert "$@"
