#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for a given
# time on its seed corpus; reports executions and findings per target.
#   scripts/fuzz.sh [seconds per target, default 600] [parallel jobs, default nproc]
# Findings are left in build/fuzz/findings/<target>/; add each crashing input to
# tests/fuzz/corpus/<target>/ together with the fix.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-600}"
jobs="${2:-$(nproc)}"
bash "$root/scripts/setup-deps.sh"
build="$root/build/fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzers >"$build/build.log" 2>&1 || {
    grep -E "error|FAILED" "$build/build.log" | head -20; echo "fuzz: the targets do not build"; exit 1; }
targets=$(cd "$build/tests/fuzz" && ls fuzz_* | grep -v '\.' || true)
mkdir -p "$build/findings" "$build/logs"

run_one() {
    local target="$1" seconds="$2" root="$3" build="$4"
    local name="${target#fuzz_}"
    local work="$build/work/$name" findings="$build/findings/$name"
    rm -rf "$work" && mkdir -p "$work" "$findings"
    cp -r "$root/tests/fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$work" >"$build/logs/$name.log" 2>&1 || true
}
export -f run_one
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$root" "$build"

failed=0; passed=0
printf '| target | seconds | executions | findings |\n|---|---|---|---|\n'
for target in $targets; do
    name="${target#fuzz_}"
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$name.log" | grep -o '[0-9]*$' || echo 0)
    found=$(ls "$build/findings/$name" | wc -l)
    printf '| %s | %s | %s | %s |\n' "$name" "$seconds" "${execs:-0}" "$found"
    if [ "$found" -ne 0 ] || ! grep -q 'Done [0-9]* runs' "$build/logs/$name.log"; then
        failed=$((failed+1)); echo "  see $build/logs/$name.log"
    else
        passed=$((passed+1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
