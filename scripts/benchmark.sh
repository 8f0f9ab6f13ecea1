#!/usr/bin/env bash
# Measures the agent's answer to id 88 under Wine: median and 99th-percentile
# latency and requests per second, with 1 and 50 concurrent clients, on
# kept-alive and on new connections. Fails if any request goes unanswered.
# Measures the 32-bit product (the 64-bit build where 32-bit programs cannot run).
#   scripts/benchmark.sh [seconds per run, default 10]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-10}"
bash "$root/scripts/setup-deps.sh"
command -v wrk >/dev/null || { apt-get install -y -qq wrk >/dev/null; }
. "$root/scripts/wine32.sh"
kind=windows
if [ "$CORVANE_RUNS_32BIT" != 1 ]; then
    echo "This machine starts no 32-bit programs: measuring the 64-bit build of the agent instead."
    kind=win64
fi
bash "$root/scripts/build.sh" "$kind" --target Corvane >/dev/null
# The agent needs a display for its windows (an Xvfb when DISPLAY names none).
. "$root/scripts/with-display.sh"
python3 "$root/tests/e2e/benchmark.py" "$root/build/$kind/agent/Corvane.exe" "$seconds"
