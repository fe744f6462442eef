#!/usr/bin/env bash
# Runs the Windows build's test suite under wine (after scripts/windows/build.sh):
# one virtual display, a wine prefix of the suite's own in build-windows, the
# host's SQLite3 and FreeTDS ODBC drivers registered in it as Windows would
# have them, and every wine process of that prefix ended afterwards.
# Extra arguments go to ctest (for example -L sqlserver).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
[ -e build-windows/CMakeCache.txt ] || { echo "Run scripts/windows/build.sh first." >&2; exit 2; }
prefix=$(sed -n 's/^GST_WINDOWS_PREFIX:[A-Z]*=//p' build-windows/CMakeCache.txt)

export WINEPREFIX=$root/build-windows/wineprefix
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers asked for: the suite needs neither.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
# Qt's libraries and plugins are found where the cache keeps them.
WINEPATH="$(winepath -w "$prefix/bin" 2>/dev/null || echo "Z:${prefix//\//\\}\\bin")"
export WINEPATH
export QT_PLUGIN_PATH="Z:${prefix//\//\\}\\plugins"

run() {
  wineboot -i >/dev/null 2>&1 || true
  # Windows' own fonts, which the windows name, are not in wine: Debian's
  # metric-compatible ones stand in, so that texts take the room they take
  # on a shop's Windows.
  local fonts='HKCU\Software\Wine\Fonts\Replacements'
  wine reg add "$fonts" /v "Arial" /d "Liberation Sans" /f >/dev/null
  wine reg add "$fonts" /v "MS Sans Serif" /d "Liberation Sans" /f >/dev/null
  wine reg add "$fonts" /v "Microsoft Sans Serif" /d "Liberation Sans" /f >/dev/null
  wine reg add "$fonts" /v "Courier New" /d "Liberation Mono" /f >/dev/null
  wine reg add "$fonts" /v "Times New Roman" /d "Liberation Serif" /f >/dev/null
  # wine's odbc32 hands every call to the host's unixODBC, but the program
  # identifies a driver by its registration, which Windows keeps in the registry.
  local inst='HKLM\Software\ODBC\ODBCINST.INI'
  local name library
  while IFS='=' read -r name library; do
    wine reg add "$inst\\$name" /v Driver /d "$library" /f >/dev/null
    wine reg add "$inst\\ODBC Drivers" /v "$name" /d Installed /f >/dev/null
  done < <(odbcinst -q -d | tr -d '[]' | while read -r n; do
             echo "$n=$(odbcinst -q -d -n "$n" | sed -n 's/^Driver=//p' | head -n1)"; done)
  local status=0
  QT_QPA_PLATFORM=offscreen ctest --test-dir build-windows --output-on-failure -j"$(nproc)" --timeout 300 \
    "$@" || status=$?
  wineserver -k || true
  return $status
}

export -f run
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c 'run "$@"' run "$@"
