#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (run as root).
# Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# Wine with both loaders: the 32-bit one (wine32, from the i386 architecture)
# runs the product as shipped, the 64-bit one the 64-bit build. The receipt's
# test prints through a spooler of its own: CUPS with its PDF printer, reached
# by Wine's printing through libcups (the i386 one for 32-bit programs), and
# poppler's tools to read and render the PDF.
pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
      binutils-mingw-w64-x86-64 wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick locales
      fonts-nanum cmake ninja-build g++ clang libclang-rt-14-dev llvm libgtest-dev
      curl chromium python3 procps psmisc xdotool file
      cups printer-driver-cups-pdf libcups2 libcups2:i386 poppler-utils)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done

if [ "${#need[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# Whether this machine starts 32-bit programs: Wine's 32-bit loader is one
# (an i386 Linux program). The answer is kept for the build and test scripts.
probe="$HOME/.cache/corvane/runs-32-bit"
mkdir -p "$(dirname "$probe")"
if [ ! -f "$probe" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo yes >"$probe"; else echo no >"$probe"; fi
fi

if ! locale -a 2>/dev/null | grep -qi '^ko_KR\.utf8$'; then
    sed -i 's/^# *ko_KR.UTF-8 UTF-8/ko_KR.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
