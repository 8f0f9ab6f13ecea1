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
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
