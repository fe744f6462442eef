#!/usr/bin/env bash
# Runs the Windows build's test suite under wine (after scripts/windows/build.sh):
# one virtual display, a wine prefix of the suite's own in build-windows, the
# host's SQLite3 and FreeTDS ODBC drivers registered in it as Windows would
# have them, and every wine process of that prefix ended afterwards.
# Extra arguments go to ctest (for example -L sqlserver).
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=scripts/windows/prefix.sh
. scripts/windows/prefix.sh

run() {
  prepare_prefix
  # Tests that cannot pass under wine are left out, each reason said with the
  # number of tests it covers (tests/windows-skips.txt).
  local reason="" patterns=() line count skipped=0
  while IFS= read -r line; do
    case "$line" in
      "#"*|"") continue ;;
      reason:*) reason=${line#reason: } ;;
      *) patterns+=("$line")
         count=$(ctest --test-dir build-windows -N -R "$line" | sed -n 's/^Total Tests: //p')
         skipped=$((skipped + count))
         echo "Skipped under wine: $count test(s) matching $line: $reason" ;;
    esac
  done < "${GST_WINDOWS_SKIPS:-tests/windows-skips.txt}"
  local exclude
  exclude=$(IFS='|'; echo "${patterns[*]}")
  echo "Skipped under wine: $skipped test(s) in all."
  local status=0
  # Once in a whole run, a test program under wine has hung on its way out
  # after its tests passed (not seen again in reruns): a test that times out
  # runs once more, and fails if it hangs again.
  QT_QPA_PLATFORM=offscreen ctest --test-dir build-windows --output-on-failure -j"$(nproc)" --timeout 300 \
    --repeat after-timeout:2 -E "$exclude" "$@" || status=$?
  wineserver -k || true
  return $status
}

# Inside one virtual display: this script again, in it.
if [ "${GST_IN_DISPLAY:-}" != 1 ]; then
  GST_IN_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
run "$@"
