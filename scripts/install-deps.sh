#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run the utility.
# Skips apt when everything is already installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  unixodbc unixodbc-dev odbcinst tdsodbc libsqliteodbc
  sqlite3 libsqlite3-dev libssl-dev
  googletest libgtest-dev libgmock-dev
  xvfb xauth desktop-file-utils fonts-dejavu-core
  libxcb1-dev libxcb-damage0-dev evilwm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

# The SQLite3 ODBC driver registers itself; make sure the driver manager knows it.
if ! odbcinst -q -d -n SQLite3 >/dev/null 2>&1; then
  printf '[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=libsqlite3odbc.so\nSetup=libsqlite3odbc.so\n' > /tmp/sqlite3-odbc.ini
  $sudo odbcinst -i -d -f /tmp/sqlite3-odbc.ini
fi
if ! odbcinst -q -d -n FreeTDS >/dev/null 2>&1; then
  printf '[FreeTDS]\nDescription=TDS driver (Sybase/MS SQL)\nDriver=libtdsodbc.so\nSetup=libtdsS.so\n' > /tmp/freetds-odbc.ini
  $sudo odbcinst -i -d -f /tmp/freetds-odbc.ini
fi
