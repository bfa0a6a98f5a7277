#!/bin/bash
# Installs the cross compiler, Wine, the tools the tests use and clang-format
# 14 for the layout check (Debian 12).
set -euo pipefail
packages=(cmake ninja-build googletest python3 g++-mingw-w64-x86-64-posix wine64 wine xvfb xdotool
          x11-utils openssl curl nginx-light clang-format git)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
