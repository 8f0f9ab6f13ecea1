#!/usr/bin/env bash
# Measures the agent's answer to id 88 under Wine: median and 99th-percentile
# latency and requests per second, with 1 and 50 concurrent clients, on
# kept-alive and on new connections. Fails if any request goes unanswered.
#   scripts/benchmark.sh [seconds per run, default 10]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-10}"
bash "$root/scripts/setup-deps.sh"
command -v wrk >/dev/null || { apt-get install -y -qq wrk >/dev/null; }
bash "$root/scripts/build.sh" win64 >/dev/null
exec python3 "$root/tests/e2e/benchmark.py" "$root/build/win64/agent/Corvane.exe" "$seconds"
