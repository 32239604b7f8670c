#!/usr/bin/env bash
# Cross-builds quorvel-flash.exe, quorvel-pack.exe and quorvel-ports.exe for
# 64-bit Windows with MinGW-w64, statically (no DLL beyond Windows' own),
# into build-windows/, and packs them with the README's Windows section, the
# manual pages as text and the licences of the code they carry into
# dist/quorvel-<version>-windows-x86_64.zip.
# The window is not built here: Debian has no Qt for Windows (see
# docs/windows.md for building it on Windows).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/setup-windows.sh"

# The window-less panel's built-in definition is written by a program of
# the Linux build (it reads ui/Quorvel.ui with Qt Core): that one target.
host="$root/build"
if [ ! -f "$host/build.ninja" ]; then
  cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
fi
cmake --build "$host" --target quorvel-panel-table -j"$(nproc)"

out="$root/build-windows"
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQUORVEL_WINDOW=OFF -DBUILD_TESTING=OFF \
  -DQUORVEL_PANEL_TABLE_GENERATOR="$host/tools/panel_table/quorvel-panel-table" >/dev/null
cmake --build "$out" -j"$(nproc)"

exes=("$out/tools/flash/quorvel-flash.exe" "$out/tools/pack/quorvel-pack.exe" "$out/tools/ports/quorvel-ports.exe")
for exe in "${exes[@]}"; do
  x86_64-w64-mingw32-strip "$exe"
  # Only Windows' own DLLs: a MinGW run-time DLL here would be missing on the bench.
  if x86_64-w64-mingw32-objdump -p "$exe" | grep "DLL Name" | grep -viE "KERNEL32|ADVAPI32|WINMM|SETUPAPI|msvcrt|api-ms-win-crt|USER32|ucrtbase|WS2_32"; then
    echo "build-windows: $exe needs a DLL Windows does not have" >&2
    exit 1
  fi
done

version="$(sed -n 's/^project(Quorvel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
stage="$out/zip/quorvel-$version-windows-x86_64"
rm -rf "$out/zip"
mkdir -p "$stage/manual"
cp "${exes[@]}" "$stage/"
# The README's "On Windows" section, with Windows line ends.
awk '/^## On Windows/{on=1; print; next} on && /^## /{exit} on' "$root/README.md" | sed 's/$/\r/' >"$stage/README-Windows.txt"
for page in quorvel-flash quorvel-pack quorvel-ports; do
  MANWIDTH=80 man -l "$root/packaging/$page.1" 2>/dev/null | col -bx | sed 's/$/\r/' >"$stage/manual/$page.txt"
done
# What the programs carry of others' code, statically linked: nlohmann/json,
# libgcrypt and libgpg-error (LGPL-2.1+: the package signatures), and the
# MinGW-w64 run-time (winpthreads among it), with their licences.
{
  echo "quorvel-flash.exe contains nlohmann/json; every .exe but quorvel-ports.exe contains libgcrypt"
  echo "and libgpg-error; every .exe contains the MinGW-w64 run-time."
  echo
  echo "libgcrypt and libgpg-error are under the GNU LGPL 2.1 or later; their source is Debian's"
  echo "libgcrypt20 and libgpg-error source packages, and Quorvel's own source relinks them."
  echo
  echo "=== libgcrypt (Debian's libgcrypt-mingw-w64-dev) ==="
  cat /usr/share/doc/libgcrypt-mingw-w64-dev/copyright
  echo
  echo "=== libgpg-error (Debian's libgpg-error-mingw-w64-dev) ==="
  cat /usr/share/doc/libgpg-error-mingw-w64-dev/copyright
  echo
  echo "=== nlohmann/json (Debian's nlohmann-json3-dev) ==="
  cat /usr/share/doc/nlohmann-json3-dev/copyright
  echo
  echo "=== MinGW-w64 (Debian's mingw-w64-x86-64-dev) ==="
  cat /usr/share/doc/mingw-w64-x86-64-dev/copyright
} | sed 's/$/\r/' >"$stage/THIRD-PARTY.txt"
mkdir -p "$root/dist"
zip="$root/dist/quorvel-$version-windows-x86_64.zip"
rm -f "$zip"
(cd "$out/zip" && zip -qr "$zip" "quorvel-$version-windows-x86_64")
echo "$zip"
