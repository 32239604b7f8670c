#!/usr/bin/env bash
# Writes a demo firmware package with quorvel-pack: two images of random
# bytes under the header line "V0 S0 V1 S1" (mode 0644), marked as a demo
# package after image 1. Never for a real camera: random firmware would
# brick it, and scripts/package.sh refuses to ship it.
# Usage: make-package.sh PATH [SIZE0 [SIZE1 [VERSION0 [VERSION1]]]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
path="${1:?usage: make-package.sh PATH [SIZE0 [SIZE1 [VERSION0 [VERSION1]]]]}"
size0="${2:-262144}"
size1="${3:-196608}"
version0="${4:-1.5}"
version1="${5:-2.05}"
pack="$root/build/tools/pack/quorvel-pack"
[ -x "$pack" ] || "$root/scripts/build.sh" "$root/build" >/dev/null
images="$(mktemp -d)"
trap 'rm -rf "$images"' EXIT
head -c "$size0" /dev/urandom >"$images/image0"
head -c "$size1" /dev/urandom >"$images/image1"
"$pack" create --demo "$path" "$images/image0" "$version0" "$images/image1" "$version1"
