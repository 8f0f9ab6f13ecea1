#!/usr/bin/env bash
# Builds and runs every test: the host build (ASan/UBSan, and ThreadSanitizer
# for the tests with threads), then the 32-bit
# product build whose test programs and end-to-end tests run under Wine with
# Xvfb, then a short fuzz run. Where this machine starts no 32-bit programs the
# Windows tests run in the 64-bit build of the same sources instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup-deps.sh"
. "$root/scripts/wine32.sh"

echo "== host build (AddressSanitizer, UndefinedBehaviorSanitizer)"
bash "$root/scripts/build.sh" host
(cd "$root/build/host" && ctest --output-on-failure -j"$(nproc)")

echo "== ThreadSanitizer: the test programs whose exchanges, screens and commands run beside a receive thread"
tsan_tests=(obulink_tests biometric_screen_tests agent_biometric_tests obu_commands_tests)
bash "$root/scripts/build.sh" tsan $(printf -- '--target %s ' "${tsan_tests[@]}")
(cd "$root/build/tsan" && ctest --output-on-failure -j"$(nproc)" -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")

if [ "$CORVANE_RUNS_32BIT" = 1 ]; then
    echo "== 32-bit product build (test programs and end-to-end tests under 32-bit Wine)"
    windows_tests="$root/build/windows"
    bash "$root/scripts/build.sh" windows
else
    echo "== this machine starts no 32-bit programs: the 32-bit product is checked as files, its tests run in the 64-bit build"
    bash "$root/scripts/build.sh" windows
    (cd "$root/build/windows" && ctest --output-on-failure)
    echo "== 64-bit build (test programs and end-to-end tests under 64-bit Wine)"
    windows_tests="$root/build/win64"
    bash "$root/scripts/build.sh" win64
fi
. "$root/scripts/with-display.sh"
. "$root/scripts/wine-env.sh"
wineserver -p 300 </dev/null >/dev/null 2>&1 || true    # one Wine server for the whole run
(cd "$windows_tests" && ctest --output-on-failure -j4 --timeout 600)

echo "== fuzz smoke run (each target briefly; scripts/fuzz.sh runs them long)"
bash "$root/scripts/fuzz.sh" "${CORVANE_FUZZ_SECONDS:-15}"
