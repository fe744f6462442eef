# Sourced by the scripts that run the Windows build under wine: a wine prefix
# of their own in build-windows, Qt's and MinGW's libraries on the path, and
# prepare_prefix, which makes the prefix look as a shop's Windows would to the
# program. Expects to be in the source folder, after scripts/windows/build.sh.
[ -e build-windows/CMakeCache.txt ] || { echo "Run scripts/windows/build.sh first." >&2; exit 2; }
root=$(pwd)
prefix=$(sed -n 's/^GST_WINDOWS_PREFIX:[A-Z]*=//p' build-windows/CMakeCache.txt)

export WINEPREFIX=$root/build-windows/wineprefix
export WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers asked for: the suite needs neither.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
# Qt's libraries are found where the cache keeps them, MinGW's runtime where
# Debian keeps it. (No QT_ variable is set here: wine hands none of them to a
# Windows program; Qt finds its plugins by the path built into it.)
windows_path() { echo "Z:${1//\//\\}"; }
gcc_lib=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
WINEPATH="$(windows_path "$prefix/bin");$(windows_path "$gcc_lib");$(windows_path /usr/x86_64-w64-mingw32/lib)"
export WINEPATH

prepare_prefix() {
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
  # A crash ends its test at once, its stack printed, instead of waiting on
  # wine's crash dialog until the time limit.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  # wine's odbc32 hands every call to the host's unixODBC, but the program
  # identifies a driver by its registration, which Windows keeps in the
  # registry: under HKLM, where wine 8's odbccp32 does not look, and under
  # HKCU, where it does.
  local name library root
  while IFS='=' read -r name library; do
    for root in HKLM HKCU; do
      wine reg add "$root\\Software\\ODBC\\ODBCINST.INI\\$name" /v Driver /d "$library" /f >/dev/null
      wine reg add "$root\\Software\\ODBC\\ODBCINST.INI\\ODBC Drivers" /v "$name" /d Installed /f >/dev/null
    done
  done < <(odbcinst -q -d | tr -d '[]' | while read -r n; do
             echo "$n=$(odbcinst -q -d -n "$n" | sed -n 's/^Driver=//p' | head -n1)"; done)
  # Temporary folders on drive Z:, so that the host's drivers can open them
  # by their Unix paths (see tests/support/win/HostPath.h).
  local temp=/tmp/gstconvert-wine-tests
  mkdir -p "$temp"
  wine reg add 'HKCU\Environment' /v TEMP /d "Z:${temp//\//\\}" /f >/dev/null
  wine reg add 'HKCU\Environment' /v TMP /d "Z:${temp//\//\\}" /f >/dev/null
}
