#!/usr/bin/env bash
# Installs everything Quorvel needs to build, run and test, from Debian's
# packages, without questions. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-svg-dev
  libgl-dev libqt6opengl6-dev fonts-dejavu-core
  xvfb xauth x11-utils imagemagick xdotool
  dpkg-dev lintian librsvg2-bin desktop-file-utils appstream
  locales
  clang-14 libclang-rt-14-dev libx11-dev
  nlohmann-json3-dev
  python3 python3-jsonschema
  libgcrypt20-dev
)

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
