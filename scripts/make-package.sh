#!/usr/bin/env bash
# Writes a firmware package: the header line "V0 S0 V1 S1" and two images of
# random bytes. Usage: make-package.sh PATH [SIZE0 [SIZE1 [VERSION0 [VERSION1]]]]
set -euo pipefail
path="${1:?usage: make-package.sh PATH [SIZE0 [SIZE1 [VERSION0 [VERSION1]]]]}"
size0="${2:-262144}"
size1="${3:-196608}"
version0="${4:-1.5}"
version1="${5:-2.05}"
tmp="$(mktemp "$path.XXXXXX")"
printf '%s %s %s %s\n' "$version0" "$size0" "$version1" "$size1" >"$tmp"
head -c "$size0" /dev/urandom >>"$tmp"
head -c "$size1" /dev/urandom >>"$tmp"
mv "$tmp" "$path"
echo "package written: $path (image 0: $size0 bytes v$version0, image 1: $size1 bytes v$version1)"
