#!/usr/bin/env bash
# Builds, from Debian's own sources, what the Windows build links and is not in
# Debian for MinGW, into the prefix $1:
#   Qt (qt6-base): Core, Gui, Widgets and Test, shared, with the windows and
#     offscreen platform plugins; host tools (moc, uic, rcc) are Debian's own;
#   SQLite and OpenSSL, static, for the test suite (fixture databases and the
#     TDS peer's TLS).
# Each part leaves a stamp in the prefix and is skipped when its stamp is there.
set -euo pipefail
prefix=$1
toolchain=$(cd "$(dirname "$0")/../../cmake" && pwd)/mingw-w64.cmake
jobs=$(nproc)
mkdir -p "$prefix"
# Work beside the prefix, so that a build stopped half-way resumes where it was.
work=$prefix.work
mkdir -p "$work"
cd "$work"

# Debian's source of a package, fetched once; apt-get's errors are shown (a
# missing deb-src line, a mirror that does not answer).
fetch_source() {
  ls "$1"_*.orig.tar.* >/dev/null 2>&1 || apt-get source --download-only "$1" >/dev/null
}

if [ ! -e "$prefix/.qt-built" ]; then
  fetch_source qt6-base
  src=$(find . -maxdepth 1 -type d -name 'qtbase*' | head -n1)
  if [ -z "$src" ]; then
    tar xf qt6-base_*.orig.tar.xz
    src=$(find . -maxdepth 1 -type d -name 'qtbase*' | head -n1)
    # HarfBuzz as one translation unit, as its makers build it: its fifty
    # files instantiate the same templates over and over, a sixth of Qt's
    # build time. Qt never subsets fonts, so that part is left out.
    cat >>"$src/src/3rdparty/harfbuzz-ng/CMakeLists.txt" <<'EOF'
get_target_property(sources BundledHarfbuzz SOURCES)
set(unit "")
foreach(source IN LISTS sources)
  if(source MATCHES "[.]cc$" AND NOT source MATCHES "hb-subset")
    string(APPEND unit "#include \"${CMAKE_CURRENT_SOURCE_DIR}/${source}\"\n")
  endif()
endforeach()
list(FILTER sources EXCLUDE REGEX "[.]cc$")
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/harfbuzz-unit.cc" "${unit}")
set_property(TARGET BundledHarfbuzz PROPERTY SOURCES ${sources} "${CMAKE_CURRENT_BINARY_DIR}/harfbuzz-unit.cc")
EOF
  fi
  # Widgets, dialogs and document formats the program does not use are left
  # out: they are a good part of the build. (The input dialog stays: the
  # Windows style includes its header whatever the features.)
  unused=()
  for feature in graphicsview mdiarea dockwidget calendarwidget datetimeedit colordialog fontdialog filedialog \
      errormessage progressdialog wizard keysequenceedit lcdnumber dial splashscreen toolbox undoview \
      columnview fontcombobox syntaxhighlighter textbrowser pdf textodfwriter textmarkdownreader \
      textmarkdownwriter movie sharedmemory systemsemaphore; do
    unused+=("-DFEATURE_$feature=OFF")
  done
  # wintab is not in Debian's tarball: no tablet events. Without direct2d,
  # directwrite3 must go too or the platform plugin fails to link; without
  # OpenGL, so must dynamicgl or the platform plugin fails to compile.
  cmake -S "$src" -B qt-build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DBUILD_WITH_PCH=ON \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
    -DFEATURE_dynamicgl=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
    -DFEATURE_freetype=ON -DFEATURE_fontconfig=OFF "${unused[@]}"
  cmake --build qt-build --parallel "$jobs"
  cmake --install qt-build
  rm -rf qt-build "$src"
  touch "$prefix/.qt-built"
fi

# SQLite is one file for one core: it compiles while OpenSSL builds.
sqlite_job=""
if [ ! -e "$prefix/.sqlite-built" ]; then
  fetch_source sqlite3
  tar xf sqlite3_*.orig.tar.xz
  src=$(find . -maxdepth 1 -type d -name 'sqlite3-*' | head -n1)
  (
    # The amalgamation is made by the host's tools, then compiled for Windows.
    (mkdir -p sqlite-host && cd sqlite-host && "../$src/configure" >/dev/null && make -s sqlite3.c sqlite3.h)
    mkdir -p "$prefix/include" "$prefix/lib"
    x86_64-w64-mingw32-gcc-posix -O2 -c sqlite-host/sqlite3.c -o sqlite3.o -DSQLITE_THREADSAFE=1 \
      -DSQLITE_ENABLE_COLUMN_METADATA
    x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" sqlite3.o
    cp sqlite-host/sqlite3.h "$src/src/sqlite3ext.h" "$prefix/include/" 2>/dev/null ||
      cp sqlite-host/sqlite3.h "$prefix/include/"
    touch "$prefix/.sqlite-built"
  ) &
  sqlite_job=$!
fi

if [ ! -e "$prefix/.openssl-built" ]; then
  fetch_source openssl
  tar xf openssl_*.orig.tar.gz
  src=$(find . -maxdepth 1 -type d -name 'openssl-*' | head -n1)
  (cd "$src" && ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- --prefix="$prefix" \
     --libdir=lib no-shared no-tests no-module no-legacy >/dev/null &&
   make -s -j"$jobs" build_libs >/dev/null && make -s install_dev >/dev/null)
  touch "$prefix/.openssl-built"
fi
[ -z "$sqlite_job" ] || wait "$sqlite_job"

cd /
rm -rf "$work"
