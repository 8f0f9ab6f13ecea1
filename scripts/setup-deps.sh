#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (run as root).
# Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
# The packages installed, as name:architecture, from one query of dpkg; a name
# without an architecture is this machine's own or an "all" package.
declare -A installed=()
while read -r name want flag state; do
    [ "$flag $state" = "ok installed" ] && installed[$name]=1
done < <(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' 2>/dev/null)
native="$(dpkg --print-architecture)"
have() {
    case "$1" in
        *:*) [ -n "${installed[$1]:-}" ] ;;
        *) [ -n "${installed[$1:$native]:-}" ] || [ -n "${installed[$1:all]:-}" ] ;;
    esac
}
probe="$HOME/.cache/corvane/runs-32-bit"
mkdir -p "$(dirname "$probe")"

# Whether this kernel starts 32-bit programs at all: a 93-byte i386 program
# that only exits 0 (ELF header, one loadable segment, mov eax,1; xor ebx,ebx;
# int 0x80). Under a hypervisor without 32-bit mode its start fails with
# "Exec format error", and Wine's 32-bit side (and every i386 package) would be
# of no use here.
kernel_runs_32bit() {
    local elf
    elf="$(mktemp)"
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$elf"
    chmod +x "$elf"
    local rc=0
    "$elf" 2>/dev/null || rc=$?
    rm -f "$elf"
    return "$rc"
}
runs32=no
if [ -f "$probe" ]; then
    runs32="$(cat "$probe")"
elif kernel_runs_32bit; then
    runs32=maybe    # Wine's 32-bit loader decides, once it is installed
fi

# Wine: the 64-bit loader runs the 64-bit build; where the kernel starts 32-bit
# programs, the 32-bit one (wine32, from the i386 architecture) runs the product
# as shipped. The receipt's test prints through a spooler of its own: CUPS with
# its PDF printer, reached by Wine's printing through libcups (the i386 one for
# 32-bit programs), and poppler's tools to read and render the PDF.
pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
      binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-utils imagemagick locales
      fonts-nanum cmake ninja-build g++ clang libclang-rt-14-dev llvm libgtest-dev
      curl chromium python3 procps psmisc xdotool file
      cups printer-driver-cups-pdf libcups2 poppler-utils)
pkgs32=(wine32:i386 libcups2:i386)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ "$runs32" != no ]; then
    for p in "${pkgs32[@]}"; do have "$p" || need+=("$p"); done
fi

if [ "${#need[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    if [ "$runs32" != no ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    # A mirror that is being synchronised answers some package lists with the
    # wrong size for a while: try again, then go on with the lists that came.
    for try in 1 2 3; do
        if apt-get update -qq; then break; fi
        echo "setup-deps: apt-get update failed (try $try of 3)" >&2
        [ "$try" = 3 ] || sleep 15
    done
    if ! apt-get install -y -qq --no-install-recommends "${need[@]}"; then
        if [ "$runs32" = no ]; then exit 1; fi
        # Without the i386 packages the 64-bit build stands in for the 32-bit one.
        echo "setup-deps: Wine's 32-bit side could not be installed; the tests run in the 64-bit build" >&2
        runs32=no
        only64=()
        for p in "${need[@]}"; do [[ "$p" == *:i386 ]] || only64+=("$p"); done
        [ "${#only64[@]}" -eq 0 ] || apt-get install -y -qq --no-install-recommends "${only64[@]}"
    fi
fi

# Whether this machine starts 32-bit programs under Wine: Wine's 32-bit loader
# is one (an i386 Linux program). The answer is kept for the build and test
# scripts.
if [ ! -f "$probe" ]; then
    if [ "$runs32" != no ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo yes >"$probe"
    else
        echo no >"$probe"
    fi
fi

if ! locale -a 2>/dev/null | grep -qi '^ko_KR\.utf8$'; then
    sed -i 's/^# *ko_KR.UTF-8 UTF-8/ko_KR.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
