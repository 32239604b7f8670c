#!/usr/bin/env bash
# Builds the Debian package build/quorvel_VERSION_ARCH.deb and prints its path
# on the last line.
#
#   package.sh --release-key RELEASE_PUB [VERS_KQ]
#
# RELEASE_PUB is the maker's public key file (quorvel-pack keygen): every
# program in the package is built to trust it and no other, so Quorvel and
# quorvel-flash refuse any firmware package it did not sign. VERS_KQ, the
# firmware package to ship as /opt/quorvel/vers.kq, must pass `quorvel-pack
# inspect`, verify against RELEASE_PUB and be of kind release (a demo
# package of random images would brick a real camera). Without it the
# package holds no firmware: Quorvel then asks for vers.kq until one is
# placed in /opt/quorvel. When VERS_KQ is refused, nothing is built at the
# release path.
#
#   package.sh --check-into DIR [--release-key PUB] [VERS_KQ]
#
# Reserved for scripts/package-check.sh, which unpacks the result and runs it
# against the simulated camera: the .deb is written into DIR (an existing
# folder other than build/), never at the release path. With --release-key
# the rules above hold for VERS_KQ; without, the programs trust no key and
# VERS_KQ may be a demo package, since no camera but the simulated one ever
# sees that .deb.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
usage() { echo "usage: package.sh --release-key RELEASE_PUB [VERS_KQ] | package.sh --check-into DIR [--release-key PUB] [VERS_KQ]" >&2; exit 2; }

out="$root/build"
check=no
if [ "${1:-}" = --check-into ]; then
  [ $# -ge 2 ] || usage
  check=yes
  out="$(realpath -e "$2")" || { echo "package.sh: no such folder: $2" >&2; exit 2; }
  [ -d "$out" ] || { echo "package.sh: not a folder: $2" >&2; exit 2; }
  if [ "$out" = "$(realpath -m "$root/build")" ]; then
    echo "package.sh: --check-into writes test packages, never into build/ where releases go" >&2; exit 2
  fi
  shift 2
fi
key=""
if [ "${1:-}" = --release-key ]; then
  [ $# -ge 2 ] || usage
  key="$(realpath -e "$2")" || { echo "package.sh: no such key file: $2" >&2; exit 2; }
  shift 2
fi
if [ "$check" = no ] && [ -z "$key" ]; then
  echo "package.sh: a release needs --release-key RELEASE_PUB: a Quorvel that trusts no key updates from any file" >&2
  exit 2
fi
[ $# -le 1 ] || usage
firmware=""
if [ $# -eq 1 ]; then
  firmware="$(realpath -e "$1")" || { echo "package.sh: no such file: $1" >&2; exit 1; }
fi
"$root/scripts/setup.sh"

# Its own build tree, with Debian's hardening flags.
build="$root/build-deb"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DQUORVEL_PACKAGE_FILE="$firmware" -DQUORVEL_TRUSTED_KEYS="$key" >/dev/null

# The firmware is judged first, by the packaged tool itself, before the rest is built.
if [ -n "$firmware" ]; then
  cmake --build "$build" -j"${JOBS:-2}" --target quorvel-pack
  echo "firmware package to ship:"
  inspection="$("$build/tools/pack/quorvel-pack" inspect "$firmware")" && usable=yes || usable=no
  echo "$inspection"
  if [ "$usable" = no ]; then
    echo "package.sh: Quorvel would not update from $firmware; not shipping it" >&2; exit 1
  fi
  if [ -n "$key" ]; then
    # Signed by the release key, every byte as signed, and of kind release.
    if ! "$build/tools/pack/quorvel-pack" verify --key "$key" --release "$firmware"; then
      echo "package.sh: $firmware is not a release signed by $key; not shipping it" >&2; exit 1
    fi
  elif grep -q '^demo package:' <<<"$inspection"; then
    echo "a demo package, accepted for this check only (the .deb goes to $out)"
  fi
else
  echo "no VERS_KQ given: the package ships no firmware (place it in /opt/quorvel/vers.kq)"
fi
cmake --build "$build" -j"${JOBS:-2}"

rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/cpack/quorvel_*.deb)"
mkdir -p "$out"
mv "$deb" "$out/"
rm -rf "$build/cpack"  # the staged tree with the firmware goes too
echo "$out/$(basename "$deb")"
