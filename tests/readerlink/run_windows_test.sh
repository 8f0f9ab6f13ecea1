#!/usr/bin/env bash
# Runs a Windows test program of the reader link under Wine, on a display (the
# trace window test makes windows).
#   run_windows_test.sh PROGRAM            the program alone
#   run_windows_test.sh PROGRAM --serial   with a reader line: COM5 and COM12
#       lead through a pseudo-terminal to the TCP port in CORVANE_READER_LINE_PORT,
#       where the program runs its simulated reader.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
program="$1"
. "$root/scripts/with-display.sh"
. "$root/scripts/wine-env.sh"
bridge=""
work="$(mktemp -d)"
cleanup() {
    if [ -n "$bridge" ]; then kill "$bridge" 2>/dev/null || true; wait "$bridge" 2>/dev/null || true; fi
    rm -rf "$work"
    if [ -n "${CORVANE_XVFB_PID:-}" ]; then kill "$CORVANE_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ "${2:-}" = "--serial" ]; then
    python3 "$root/tests/sim/serial_line_bridge.py" --ready "$work/port" \
        --link "$WINEPREFIX/dosdevices/com5" --link "$WINEPREFIX/dosdevices/com12" >"$work/bridge.log" 2>&1 &
    bridge=$!
    for _ in $(seq 100); do [ -f "$work/port" ] && break; sleep 0.05; done
    [ -f "$work/port" ] || { echo "the serial line bridge did not start" >&2; cat "$work/bridge.log" >&2; exit 1; }
    CORVANE_READER_LINE_PORT="$(cat "$work/port")"
    export CORVANE_READER_LINE_PORT
fi
"$WINELOADER" "$program"
