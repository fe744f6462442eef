#!/usr/bin/env bash
# Builds the Debian packages from a build tree (configured RelWithDebInfo, so
# that there are debug symbols to split off), unpacks them into an empty root
# and checks what an administrator gets: the program, its desktop entry,
# icons, manual page, copyright and changelog, a stripped binary with its
# symbols in gstconvert-dbgsym, the run-time dependencies, root ownership and
# Debian's modes. Then runs lintian on both packages and fails on any error or
# warning that packaging/lintian-overrides does not override.
set -euo pipefail
build_dir=${1:-build}
cd "$(dirname "$0")/.."

# Tools for packaging only: CPack's dependency scan and symbol split need
# file, dpkg-shlibdeps (dpkg-dev), objcopy and readelf (binutils).
packaging_tools=(lintian file dpkg-dev binutils)
missing=()
for p in "${packaging_tools[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

rm -f "$build_dir"/gstconvert_*.deb "$build_dir"/gstconvert-dbgsym_*.*deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/gstconvert_*.deb)
dbgsym=$(ls "$build_dir"/gstconvert-dbgsym_*.*deb 2>/dev/null || true)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
status=0
fail() { echo "FAILED: $*"; status=1; }

for f in usr/bin/gstconvert usr/share/applications/gstconvert.desktop \
         usr/share/icons/hicolor/32x32/apps/gstconvert.png usr/share/icons/hicolor/16x16/apps/gstconvert.png \
         usr/share/man/man1/gstconvert.1.gz usr/share/doc/gstconvert/copyright \
         usr/share/doc/gstconvert/changelog.gz usr/share/lintian/overrides/gstconvert; do
  if [ -e "$root/$f" ]; then echo "ok: $f"; else fail "missing $f"; fi
done
[ -x "$root/usr/bin/gstconvert" ] || fail "not executable: usr/bin/gstconvert"

# Owner root:root; folders and programs 0755, every other file 0644.
bad_modes=$(dpkg-deb -c "$deb" | awk '
  $2 != "root/root" { print; next }
  $1 ~ /^d/ && $1 != "drwxr-xr-x" { print; next }
  $1 ~ /^-/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--" { print; next }
  $1 ~ /^-/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x" { print }')
if [ -z "$bad_modes" ]; then echo "ok: owner root:root, modes 0755/0644"; else fail "owner or mode: $bad_modes"; fi

depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libqt6widgets6 libodbc2 odbcinst tdsodbc libsqliteodbc qt6-qpa-plugins; do
  case "$depends" in *"$p"*) echo "ok: depends on $p";; *) fail "missing dependency: $p";; esac
done

# The version is project()'s: the package, the program and the changelog agree.
version=$(dpkg-deb -f "$deb" Version)
changelog_version=$(zcat "$root/usr/share/doc/gstconvert/changelog.gz" | dpkg-parsechangelog -l- -S Version)
[ "$changelog_version" = "$version" ] && echo "ok: changelog is at $version" ||
  fail "changelog version $changelog_version, package $version"
program_version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/gstconvert" --version || true)
[ "$program_version" = "gstconvert $version" ] && echo "ok: $program_version" ||
  fail "gstconvert --version says '$program_version', package $version"

if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$root/usr/share/applications/gstconvert.desktop" && echo "ok: desktop entry valid"
fi

# A stripped program whose symbols, found by its build id, are in the dbgsym package.
if readelf -S "$root/usr/bin/gstconvert" | grep '\.debug_info\|\.symtab' >/dev/null; then
  fail "usr/bin/gstconvert is not stripped"
else
  echo "ok: usr/bin/gstconvert stripped"
fi
build_id=$(readelf -n "$root/usr/bin/gstconvert" | sed -n 's/.*Build ID: *//p')
if [ -z "$dbgsym" ]; then
  fail "no gstconvert-dbgsym package (was the build configured RelWithDebInfo?)"
elif dpkg-deb -c "$dbgsym" | grep "usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug" >/dev/null; then
  echo "ok: $(basename "$dbgsym") holds the symbols of build id $build_id"
else
  fail "$(basename "$dbgsym") lacks usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
fi

echo "lintian $(lintian --version | sed 's/^Lintian v//'):"
packages=("$deb")
[ -n "$dbgsym" ] && packages+=("$dbgsym")
if lintian --fail-on error,warning --display-info --pedantic "${packages[@]}"; then
  echo "ok: lintian reports no error and no warning"
else
  fail "lintian reports errors or warnings (above)"
fi
exit $status
