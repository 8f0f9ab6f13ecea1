#!/usr/bin/env bash
# Builds the agent and starts it under Wine; it answers on http://127.0.0.1:90/.
#   scripts/run-agent.sh              the product, the 32-bit Corvane.exe
#   scripts/run-agent.sh --simulated  the test build with simulated devices
# The tray icon shows on the display in DISPLAY (an Xvfb is started when there is none).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"
. "$root/scripts/wine32.sh"
bash "$root/scripts/build.sh" windows
build="$root/build/windows"
if [ "$CORVANE_RUNS_32BIT" != 1 ]; then
    echo "This machine starts no 32-bit programs: running the 64-bit build of the agent instead."
    bash "$root/scripts/build.sh" win64
    build="$root/build/win64"
fi
exe="$build/agent/Corvane.exe"
if [ "${1:-}" = "--simulated" ]; then exe="$build/tests/CorvaneSimulated.exe"; fi
. "$root/scripts/with-display.sh"
. "$root/scripts/wine-env.sh"
echo "$(basename "$exe") ($(file -b "$exe" | cut -d, -f1)) runs on DISPLAY=$DISPLAY;" \
     "try: curl 'http://127.0.0.1:90/Corvane.html?callback=cb&id=88'"
cd "$(dirname "$exe")"
exec "$WINELOADER" "$exe"
