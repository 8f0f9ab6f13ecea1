#!/usr/bin/env bash
# Builds the agent and starts it under Wine; it answers on http://127.0.0.1:90/.
#   scripts/run-agent.sh              the product, the 32-bit Corvane.exe
#   scripts/run-agent.sh --simulated  the test build with simulated devices
# Only the program started is built (Tarnlink.dll comes beside it). The tray
# icon shows on the display in DISPLAY (an Xvfb is started when there is none).
# The script stays until the agent ends and passes its exit code on; Ctrl-C
# ends the agent.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"
. "$root/scripts/wine32.sh"
target=Corvane folder=agent
if [ "${1:-}" = "--simulated" ]; then target=CorvaneSimulated folder=tests; fi
kind=windows
if [ "$CORVANE_RUNS_32BIT" != 1 ]; then
    echo "This machine starts no 32-bit programs: running the 64-bit build of the agent instead."
    kind=win64
fi
bash "$root/scripts/build.sh" "$kind" --target "$target"
exe="$root/build/$kind/$folder/$target.exe"
. "$root/scripts/with-display.sh"
. "$root/scripts/wine-env.sh"

url='http://127.0.0.1:90/Corvane.html?callback=cb&id=88'
answers() { curl -s -o /dev/null -m 2 "$url"; }
name="$(basename "$exe") ($(file -b "$exe" | cut -d, -f1))"
taken=0
answers && taken=1  # something answers on port 90 already

cd "$(dirname "$exe")"
"$WINELOADER" "$exe" </dev/null &
agent=$!
trap 'kill "$agent" 2>/dev/null' INT TERM

# An agent that finds another one running in this Wine prefix ends at once with
# exit code 0; one that starts answers on port 90 within seconds.
started=$SECONDS
state=
while [ -z "$state" ]; do
    if ! kill -0 "$agent" 2>/dev/null; then
        state=ended
    elif [ "$taken" = 0 ] && answers; then
        state=answers
    elif [ "$taken" = 1 ] && [ $((SECONDS - started)) -ge 20 ]; then
        state=no-port
    else
        sleep 0.2
    fi
done

code=0
if [ "$state" != ended ]; then
    if [ "$state" = answers ]; then
        echo "$name runs on DISPLAY=$DISPLAY; try: curl '$url'"
    else
        echo "$name runs on DISPLAY=$DISPLAY, but port 90 was taken before it started" \
             "(an agent of another Wine prefix?): its command server does not listen."
    fi
fi
while :; do  # a Ctrl-C interrupts the wait: wait again for the agent's end
    wait "$agent" && code=0 || code=$?
    kill -0 "$agent" 2>/dev/null || break
done
if [ "$state" != ended ] && [ -n "${CORVANE_XVFB_PID:-}" ]; then
    # The display this script started goes when the script ends: first let
    # Wine's own programs of the prefix (the tray's) end with the agent.
    timeout 15 wineserver -w || true
fi
if [ "$state" = ended ]; then
    if [ "$code" = 0 ]; then
        echo "An agent already runs in Wine prefix $WINEPREFIX: this start ended at once."
    else
        echo "$name ended at once with exit code $code."
    fi
fi
exit "$code"
