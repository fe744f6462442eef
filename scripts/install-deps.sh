#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run the utility,
# registers the ODBC drivers and makes the Turkish locale the tests use.
# Skips apt when everything is already installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  unixodbc unixodbc-dev odbcinst tdsodbc libsqliteodbc
  sqlite3 libsqlite3-dev libssl-dev
  googletest libgtest-dev libgmock-dev
  xvfb xauth desktop-file-utils fonts-dejavu-core
  libxcb1-dev libxcb-damage0-dev evilwm locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# FreeTDS compares connection-string keys in the C library's locale; the tests
# run one table in Turkish, where "I" and "i" are not each other's case.
if ! locale -a 2>/dev/null | grep -qi '^tr_TR\.utf-\?8$'; then
  $sudo localedef -i tr_TR -f UTF-8 tr_TR.UTF-8
fi

# The SQLite3 ODBC driver registers itself; make sure the driver manager knows it.
if ! odbcinst -q -d -n SQLite3 >/dev/null 2>&1; then
  printf '[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=libsqlite3odbc.so\nSetup=libsqlite3odbc.so\n' > /tmp/sqlite3-odbc.ini
  $sudo odbcinst -i -d -f /tmp/sqlite3-odbc.ini
fi
if ! odbcinst -q -d -n FreeTDS >/dev/null 2>&1; then
  printf '[FreeTDS]\nDescription=TDS driver (Sybase/MS SQL)\nDriver=libtdsodbc.so\nSetup=libtdsS.so\n' > /tmp/freetds-odbc.ini
  $sudo odbcinst -i -d -f /tmp/freetds-odbc.ini
fi
