#!/usr/bin/env bash
# Builds both builds and runs every test: the host build (ASan/UBSan) and the
# Windows build under Wine with Xvfb, the end-to-end tests included.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"

echo "== host build (AddressSanitizer, UndefinedBehaviorSanitizer)"
bash "$root/scripts/build.sh" host
(cd "$root/build/host" && ctest --output-on-failure -j"$(nproc)")

echo "== 32-bit product build (checks of Corvane.exe and Tarnlink.dll)"
bash "$root/scripts/build.sh" windows
(cd "$root/build/windows" && ctest --output-on-failure)

echo "== 64-bit build (test programs under Wine)"
bash "$root/scripts/build.sh" win64
. "$root/scripts/with-display.sh"
. "$root/scripts/wine-env.sh"
wineserver -p 300 </dev/null >/dev/null 2>&1 || true    # one Wine server for the whole run
(cd "$root/build/win64" && ctest --output-on-failure -j4 --timeout 600)

echo "== fuzz smoke run (each target briefly; scripts/fuzz.sh runs them long)"
bash "$root/scripts/fuzz.sh" "${CORVANE_FUZZ_SECONDS:-15}"
