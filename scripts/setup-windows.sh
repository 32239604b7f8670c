#!/usr/bin/env bash
# Installs what the Windows build and its test under Wine need, from
# Debian's packages, without questions: the MinGW-w64 cross compiler (its
# -posix flavour, which has std::thread), libgcrypt built for Windows (the
# package signatures), Wine, and zip. Safe to run again.
set -euo pipefail

packages=(g++-mingw-w64-x86-64-posix wine64 zip libgcrypt-mingw-w64-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
