#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into an empty root and
# checks that the program, its desktop entry and icons are there and that it
# depends on the run-time packages.
set -euo pipefail
build_dir=${1:-build}
cd "$(dirname "$0")/.."
rm -f "$build_dir"/gstconvert_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/gstconvert_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
status=0
for f in usr/bin/gstconvert usr/share/applications/gstconvert.desktop \
         usr/share/icons/hicolor/32x32/apps/gstconvert.png usr/share/icons/hicolor/16x16/apps/gstconvert.png; do
  if [ -e "$root/$f" ]; then echo "ok: $f"; else echo "MISSING: $f"; status=1; fi
done
[ -x "$root/usr/bin/gstconvert" ] || { echo "not executable: usr/bin/gstconvert"; status=1; }
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libodbc2 tdsodbc libsqliteodbc; do
  case "$depends" in *"$p"*) echo "ok: depends on $p";; *) echo "MISSING dependency: $p"; status=1;; esac
done
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$root/usr/share/applications/gstconvert.desktop" && echo "ok: desktop entry valid"
fi
exit $status
