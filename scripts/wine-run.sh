#!/usr/bin/env bash
# Runs one Windows program under Wine (CTest's emulator for the Windows build)
# and passes its exit code on.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/wine-env.sh"
exec "$WINELOADER" "$@"
