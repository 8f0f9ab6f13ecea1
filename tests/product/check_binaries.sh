#!/usr/bin/env bash
# Checks of the 32-bit product binaries: what they are and what they import.
# usage: check_binaries.sh OBJDUMP Corvane.exe
set -euo pipefail
objdump="$1"; exe="$2"
passed=0; failed=0
check() { if eval "$2"; then echo "ok: $1"; passed=$((passed+1)); else echo "FAILED: $1"; failed=$((failed+1)); fi; }

header=$("$objdump" -f "$exe")
check "Corvane.exe is a 32-bit Windows program" 'grep -q "file format pei-i386" <<<"$header"'
imports=$("$objdump" -p "$exe" | grep "DLL Name" | awk '{print tolower($3)}' | sort -u)
check "Corvane.exe needs no C++ runtime DLL (static runtime)" \
      '! grep -qE "libstdc|libgcc|libwinpthread" <<<"$imports"'
private=$("$objdump" -p "$exe")
check "Corvane.exe is a GUI program" 'grep -q "Subsystem.*(Windows GUI)" <<<"$private"'
tarnlink=$(awk '/DLL Name: Tarnlink.dll/{on=1; next} /DLL Name:/{on=0} on && NF>=3 && $3 ~ /^TARN_/ {print $3}' <<<"$private" | sort | tr '\n' ' ')
check "Corvane.exe imports the seven reader exports from Tarnlink.dll" \
      '[ "$tarnlink" = "TARN_ABM_Transparent TARN_ClosePort TARN_IC_Case1 TARN_IC_Case2 TARN_IC_Case3 TARN_IC_PowerOn TARN_InitPort " ]'
check "Corvane.exe binds the smart-card service at run time (no winscard.dll import)" \
      '! grep -qx "winscard.dll" <<<"$imports"'
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
