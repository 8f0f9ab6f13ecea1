#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (run as root).
# Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

# Wine: the 64-bit loader only. These machines cannot start 32-bit Linux
# programs, so the Windows tests run the 64-bit build of the same sources.
pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
      binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-utils imagemagick locales fonts-nanum
      cmake ninja-build g++ clang libclang-rt-14-dev llvm libgtest-dev
      curl chromium python3 procps psmisc xdotool)
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done

if [ "${#need[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

if ! locale -a 2>/dev/null | grep -qi '^ko_KR\.utf8$'; then
    sed -i 's/^# *ko_KR.UTF-8 UTF-8/ko_KR.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi
