#!/usr/bin/env bash
# Checks of the 32-bit Tarnlink.dll: what it is, the exact table of names it
# exports, what it imports, and the import library the agent links.
# usage: check_tarnlink.sh OBJDUMP NM Tarnlink.dll libTarnlink.dll.a
set -euo pipefail
objdump="$1"; nm="$2"; dll="$3"; implib="$4"
passed=0; failed=0
check() { if eval "$2"; then echo "ok: $1"; passed=$((passed+1)); else echo "FAILED: $1"; failed=$((failed+1)); fi; }

# The exports, by name, as the library promises them.
expected="TARN_ABM_Transparent
TARN_AM_Transparent
TARN_AM_TransparentCRC
TARN_BM_Transparent
TARN_BM_TransparentCRC
TARN_BM_Transparent_Set
TARN_BM_Transparent_Test
TARN_ClosePort
TARN_IC_Case1
TARN_IC_Case2
TARN_IC_Case3
TARN_IC_PowerOn
TARN_InitPort"

header=$("$objdump" -f "$dll")
private=$("$objdump" -p "$dll")
check "Tarnlink.dll is a 32-bit Windows DLL" 'grep -q "file format pei-i386" <<<"$header" && grep -qx "[[:space:]]*DLL" <<<"$private"'
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$private" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort)
check "Tarnlink.dll exports exactly its names, none decorated by accident" '[ "$exports" = "$(LC_ALL=C sort <<<"$expected")" ]'
[ "$exports" = "$(LC_ALL=C sort <<<"$expected")" ] || diff <(LC_ALL=C sort <<<"$expected") <(echo "$exports") || true
check "Tarnlink.dll is named Tarnlink.dll in its export directory" 'grep -q "^Name[[:space:]].*Tarnlink.dll" <<<"$private"'
imports=$(grep "DLL Name" <<<"$private" | awk '{print tolower($3)}' | sort -u)
check "Tarnlink.dll needs no C++ runtime DLL (static runtime)" '! grep -qE "libstdc|libgcc|libwinpthread" <<<"$imports"'
check "Tarnlink.dll uses SetupAPI for the USB readers" 'grep -qx "setupapi.dll" <<<"$imports"'

# The agent's seven functions, declared stdcall in tarnlink.h, resolve through
# the import library to the undecorated exports.
symbols=$("$nm" "$implib")
for s in _TARN_InitPort@8 _TARN_ClosePort@4 _TARN_IC_PowerOn@12 _TARN_IC_Case1@20 _TARN_IC_Case2@20 \
         _TARN_IC_Case3@20 _TARN_ABM_Transparent@24; do
    check "import library defines $s" 'grep -q " T $s\$" <<<"$symbols"'
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
