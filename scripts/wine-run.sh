#!/usr/bin/env bash
# Runs one Windows program under Wine (CTest's emulator for the Windows builds)
# and passes its exit code on.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh" || exit 1
# One Wine server for a whole test run (wine-env.sh has started Wine's own
# services away from this program's output).
wineserver -p 300 </dev/null >/dev/null 2>&1 || true
exec "$WINELOADER" "$@"
