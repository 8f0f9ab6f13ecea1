#!/usr/bin/env bash
# Checks of the 32-bit Tarnlink.dll: what it is, the exact table of names it
# exports, what it imports, and the import library the agent links.
# usage: check_tarnlink.sh OBJDUMP NM Tarnlink.dll libTarnlink.dll.a
set -euo pipefail
objdump="$1"; nm="$2"; dll="$3"; implib="$4"
passed=0; failed=0
check() { if eval "$2"; then echo "ok: $1"; passed=$((passed+1)); else echo "FAILED: $1"; failed=$((failed+1)); fi; }

# The exports, by name, as the library promises them: the names of its .def
# file (58), seven of them decorated.
def="$(dirname "${BASH_SOURCE[0]}")/../../readerlink/tarnlink.def"
header_file="$(dirname "${BASH_SOURCE[0]}")/../../readerlink/tarnlink.h"
expected=$(sed -n 's/^[[:space:]]*\([A-Za-z0-9_@]*\)[[:space:]]*=.*/\1/p' "$def")

header=$("$objdump" -f "$dll")
private=$("$objdump" -p "$dll")
check "Tarnlink.dll is a 32-bit Windows DLL" 'grep -q "file format pei-i386" <<<"$header" && grep -qx "[[:space:]]*DLL" <<<"$private"'
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$private" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort)
check "Tarnlink.dll exports exactly its names, none decorated by accident" '[ "$exports" = "$(LC_ALL=C sort <<<"$expected")" ]'
[ "$exports" = "$(LC_ALL=C sort <<<"$expected")" ] || diff <(LC_ALL=C sort <<<"$expected") <(echo "$exports") || true
check "Tarnlink.dll exports 58 names" '[ "$(wc -l <<<"$exports")" -eq 58 ]'
decorated=$(grep '@' <<<"$exports" | tr '\n' ' ')
check "seven exports carry their stdcall decoration" \
      '[ "$decorated" = "_ListenPollTarn@28 _TARN200LIB_Polling@20 _TARN200LIB_STD_Write@28 _TARN_ListenModemENQ@12 _TARN_ModemCommand@20 _TARN_SendData2Modem@20 _listPollingTarn@20 " ]'

# Every export's byte count against its parameter list in tarnlink.h (each
# parameter takes 4 bytes on the 32-bit stack); a decorated export name is the
# stdcall symbol itself.
counts_ok=1
while read -r name _ symbol; do
    function="${symbol%@*}"; bytes="${symbol#*@}"
    params=$(tr '\n' ' ' <"$header_file" | grep -o "TARNLINK_CALL $function([^)]*)" | sed 's/.*(\(.*\))/\1/')
    if [ -z "$params" ]; then echo "  $function: no declaration"; counts_ok=0; continue; fi
    n=$(( $(tr -cd ',' <<<"$params" | wc -c) + 1 ))
    if [ "$bytes" -ne $((n * 4)) ]; then echo "  $function: @$bytes for $n parameters"; counts_ok=0; fi
    case "$name" in *@*) [ "$name" = "_$symbol" ] || { echo "  $name is not _$symbol"; counts_ok=0; } ;; esac
done < <(sed -n 's/^[[:space:]]*\([A-Za-z0-9_@]*\)[[:space:]]*\(=\)[[:space:]]*\([A-Za-z0-9_@]*\).*/\1 \2 \3/p' "$def")
check "every stdcall byte count matches the declaration's parameters" '[ "$counts_ok" -eq 1 ]'
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
