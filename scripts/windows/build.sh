#!/usr/bin/env bash
# Builds the Windows version on Debian 12: installs what it needs from Debian's
# archive, builds Qt, SQLite and OpenSSL for Windows once into a cache outside
# the work tree, then builds gstconvert.exe and its tests into build-windows and
# packs the installer and the portable zip into build-windows/dist.
#   GST_WINDOWS_CACHE  where the cache lives (default ~/.cache/gstconvert-windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

scripts/install-deps.sh
packages=(g++-mingw-w64-x86-64-posix wine64 wine fonts-wine nsis zip xvfb xauth fonts-liberation dpkg-dev tcl
          googletest ca-certificates)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# Qt, SQLite and OpenSSL are built from Debian's source packages.
if ! grep -rqs "^Types:.*deb-src" /etc/apt/sources.list.d/ && ! grep -qs "^deb-src" /etc/apt/sources.list; then
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
    $sudo tee /etc/apt/sources.list.d/gstconvert-deb-src.sources >/dev/null
  missing+=(dpkg-dev)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  # With what they recommend: wine's own programs (wine, winepath, wineserver)
  # come that way, as they did where this was tried.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

# The cache is keyed by Qt's version and by the scripts that build it.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[+~-].*//')
key=$(cat scripts/windows/third-party.sh cmake/mingw-w64.cmake | sha256sum | cut -c1-12)
cache=${GST_WINDOWS_CACHE:-$HOME/.cache/gstconvert-windows}
prefix=$cache/qt-$qt_version-$key
if [ ! -e "$prefix/.qt-built" ] || [ ! -e "$prefix/.sqlite-built" ] || [ ! -e "$prefix/.openssl-built" ]; then
  echo "Building Qt $qt_version, SQLite and OpenSSL for Windows into $prefix (once)"
  start=$(date +%s)
  scripts/windows/third-party.sh "$prefix"
  echo "Built them in $(( $(date +%s) - start )) s"
fi

cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DGST_WINDOWS_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release
cmake --build build-windows

# The files a workstation needs: the program, the Qt libraries and plugins it
# loads, and MinGW's runtime. Qt finds its plugins beside the program.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
dist=build-windows/dist
stage=$dist/gstconvert-$version
rm -rf "$dist"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats"
x86_64-w64-mingw32-strip -o "$stage/gstconvert.exe" build-windows/gstconvert.exe
cp "$prefix"/bin/Qt6Core.dll "$prefix"/bin/Qt6Gui.dll "$prefix"/bin/Qt6Widgets.dll "$stage/"
cp "$prefix"/plugins/platforms/qwindows.dll "$stage/platforms/"
cp "$prefix"/plugins/styles/*.dll "$stage/styles/" 2>/dev/null || true
cp "$prefix"/plugins/imageformats/*.dll "$stage/imageformats/" 2>/dev/null || true
gcc_lib=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
cp "$gcc_lib/libstdc++-6.dll" "$gcc_lib/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll \
  "$stage/"
rmdir "$stage/styles" "$stage/imageformats" 2>/dev/null || true
find "$stage" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

(cd "$dist" && zip -qr "gstconvert-$version-windows-x64.zip" "gstconvert-$version")
makensis -V2 -DVERSION="$version" -DSTAGE="$root/$stage" \
  -DICON="$root/app/gstconvert.ico" -DOUTFILE="$root/$dist/gstconvert-$version-setup.exe" \
  packaging/windows/gstconvert.nsi
echo "Built $dist/gstconvert-$version-setup.exe and $dist/gstconvert-$version-windows-x64.zip"
