#!/usr/bin/env bash
# Builds the agent and starts it under Wine; it answers on http://127.0.0.1:90/.
#   scripts/run-agent.sh            the product Corvane.exe
#   scripts/run-agent.sh --simulated  the test build with simulated devices
# The tray icon shows on the display in DISPLAY (an Xvfb is started when there is none).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"
# The 64-bit build of the agent is the one Wine runs on these machines; the
# 32-bit product is built alongside it in build/windows.
bash "$root/scripts/build.sh" windows
bash "$root/scripts/build.sh" win64
exe="$root/build/win64/agent/Corvane.exe"
if [ "${1:-}" = "--simulated" ]; then exe="$root/build/win64/tests/CorvaneSimulated.exe"; fi
. "$root/scripts/with-display.sh"
. "$root/scripts/wine-env.sh"
echo "Corvane runs on DISPLAY=$DISPLAY; try: curl 'http://127.0.0.1:90/Corvane.html?callback=cb&id=88'"
cd "$(dirname "$exe")"
exec "$WINELOADER" "$exe"
