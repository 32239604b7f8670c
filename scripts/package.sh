#!/usr/bin/env bash
# Builds the Debian package build/quorvel_VERSION_ARCH.deb and prints its path
# on the last line. Usage: package.sh [VERS_KQ]
# VERS_KQ, the firmware package to ship as /opt/quorvel/vers.kq, must pass
# `quorvel-pack inspect`. Without it the package holds no firmware: Quorvel
# then asks for vers.kq until one is placed in /opt/quorvel. Random demo
# images are never shipped by default; they would brick a real camera.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
firmware=""
if [ $# -gt 1 ]; then echo "usage: package.sh [VERS_KQ]" >&2; exit 2; fi
if [ $# -eq 1 ]; then
  firmware="$(realpath -e "$1")" || { echo "package.sh: no such file: $1" >&2; exit 1; }
fi
"$root/scripts/setup.sh"

# Its own build tree, with Debian's hardening flags; build/ receives the .deb.
build="$root/build-deb"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DQUORVEL_PACKAGE_FILE="$firmware" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

if [ -n "$firmware" ]; then
  echo "firmware package to ship:"
  "$build/tools/pack/quorvel-pack" inspect "$firmware" || {
    echo "package.sh: Quorvel would not update from $firmware; not shipping it" >&2; exit 1; }
else
  echo "no VERS_KQ given: the package ships no firmware (place it in /opt/quorvel/vers.kq)"
fi

rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/cpack/quorvel_*.deb)"
mkdir -p "$root/build"
cp "$deb" "$root/build/"
echo "$root/build/$(basename "$deb")"
