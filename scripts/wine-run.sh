#!/usr/bin/env bash
# Runs one Windows program under Wine (CTest's emulator for the win64 build)
# and passes its exit code on.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
# The Wine server and Wine's own services must not start as children of this
# program: they would hold its output open long after it ended (and CTest would
# wait for them). Start them apart, with their output closed; both calls are
# quick when they already run.
wineserver -p 300 </dev/null >/dev/null 2>&1 || true
"$WINELOADER" wineboot </dev/null >/dev/null 2>&1 || true
exec "$WINELOADER" "$@"
