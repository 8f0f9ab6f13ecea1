#!/usr/bin/env bash
# Builds one build: scripts/build.sh windows|win64|host|tsan [--target NAME]... [cmake args...]
#   windows  the product, 32-bit (build/windows); where this machine starts
#            32-bit programs its test programs run under Wine
#   win64    the same sources, 64-bit (build/win64); its test programs run
#            under Wine where the 32-bit ones cannot
#   host     the portable code, native, with ASan and UBSan (build/host)
#   tsan     the same, with ThreadSanitizer instead (build/tsan)
# Every target is built unless --target names the ones to build (with what they
# need); the other arguments go to CMake's configure step.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
kind="${1:?windows, win64, host or tsan}"; shift || true
configure=(); targets=()
while [ $# -gt 0 ]; do
    if [ "$1" = --target ]; then targets+=(--target "${2:?--target needs a name}"); shift 2
    else configure+=("$1"); shift; fi
done
. "$root/scripts/wine32.sh"
case "$kind" in
    windows) extra=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686-posix.cmake")
             if [ "$CORVANE_RUNS_32BIT" = 1 ]; then
                 extra+=(-DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh")
             else
                 extra+=(-DCMAKE_CROSSCOMPILING_EMULATOR=)
             fi ;;
    win64)   extra=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64-posix.cmake") ;;
    host)    extra=() ;;
    tsan)    extra=(-DCORVANE_SANITIZE=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread) ;;
    *) echo "usage: $0 windows|win64|host|tsan" >&2; exit 2 ;;
esac
build="$root/build/$kind"
# CMake's configure step (seconds, most of it finding Python) runs when the
# build has not been configured with these arguments; otherwise Ninja runs it
# by itself when a CMake file has changed.
args=(-S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" "${configure[@]}")
stamp="$build/.corvane-configured-with"
if [ ! -f "$build/build.ninja" ] || [ "$(cat "$stamp" 2>/dev/null)" != "${args[*]}" ]; then
    rm -f "$stamp"
    cmake "${args[@]}" >/dev/null
    printf '%s' "${args[*]}" >"$stamp"
fi
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
