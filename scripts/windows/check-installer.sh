#!/usr/bin/env bash
# Installs the Windows installer silently under wine into a fresh prefix, asks
# the installed program for its version, then uninstalls it silently and checks
# that the program and its shortcut are gone. Run after scripts/windows/build.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
setup=build-windows/dist/gstconvert-$version-setup.exe
[ -e "$setup" ] || { echo "No $setup: run scripts/windows/build.sh first." >&2; exit 2; }

export WINEPREFIX=$(pwd)/build-windows/wineprefix-install
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d"
[ "${GST_IN_DISPLAY:-}" = 1 ] || rm -rf "$WINEPREFIX"

check() {
  local setup=$1 version=$2 status=0
  wineboot -i >/dev/null 2>&1 || true
  wine "$setup" /S
  wineserver -w
  local dir='C:\Program Files\gstconvert'
  local answer
  answer=$(wine "$dir\\gstconvert.exe" --version | tr -d '\r')
  echo "installed program says: $answer"
  [ "$answer" = "gstconvert $version" ] || { echo "expected: gstconvert $version" >&2; status=1; }
  local unix_dir
  unix_dir=$(winepath -u "$dir")
  local shortcut
  shortcut=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\gstconvert.lnk')
  [ -e "$shortcut" ] || { echo "no Start-menu shortcut at $shortcut" >&2; status=1; }
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\gstconvert' /v DisplayVersion |
    grep -q "$version" || { echo "the uninstaller is not registered with Windows" >&2; status=1; }
  # _?= runs the uninstaller in place, so that this waits for it.
  wine "$dir\\uninstall.exe" /S "_?=$dir"
  wineserver -w
  [ ! -e "$unix_dir/gstconvert.exe" ] && [ ! -e "$unix_dir/Qt6Core.dll" ] && [ ! -e "$shortcut" ] ||
    { echo "the uninstaller left the program behind" >&2; status=1; }
  wineserver -k || true
  return $status
}
# Inside one virtual display: this script again, in it.
if [ "${GST_IN_DISPLAY:-}" != 1 ]; then
  GST_IN_DISPLAY=1 exec xvfb-run -a "$0" "$@"
fi
check "$(pwd)/$setup" "$version"
echo "The installer installed, answered --version and uninstalled."
