#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: lintian
# finds no error (with and without a firmware package inside), the menu
# entry and AppStream data validate, and the Quorvel unpacked from the .deb
# runs a whole update against the simulated camera for both products.
# Also checks that a demo firmware package, with or without its signature
# trailer, and an unsigned one are refused for a release.
#
# Every .deb built here goes to a temporary folder of its own (package.sh
# --check-into), never to build/, where the release a user installs lies:
# the firmware inside is random images, signed by a release key made for
# this check alone (its private half dies with the temporary folder).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

lint() {
  echo "lintian $1:"
  lintian --fail-on error --display-info "$1" 2>&1 | grep -v 'running with root privileges' || true
  lintian --fail-on error "$1" >/dev/null 2>&1 || { echo "package-check: lintian reports errors" >&2; exit 1; }
}

# Without firmware: what a firm gets before it adds its own vers.kq.
mkdir "$work/plain"
deb="$(bash "$root/scripts/package.sh" --check-into "$work/plain" | tail -1)"
lint "$deb"

# A release key pair for this check, and a demo firmware package, both
# written by the packaged tool itself.
pack="$root/build-deb/tools/pack/quorvel-pack"
"$pack" keygen "$work/release" >/dev/null
head -c 262144 /dev/urandom >"$work/rz4417.bin"
head -c 196608 /dev/urandom >"$work/kwt6083.bin"
"$pack" create --demo "$work/vers.kq" "$work/rz4417.bin" 1.5 "$work/kwt6083.bin" 2.05 >/dev/null
# The demo package with its signature trailer cut off: header and images only.
head -c $((23 + 262144 + 196608)) "$work/vers.kq" >"$work/stripped.kq"

# Each refused for a release, saying why, and the release path left as it was.
release_before="$(ls -l --time-style=full-iso "$root"/build/quorvel_*.deb 2>/dev/null || true)"
refuse() {  # refuse FILE WHY
  if bash "$root/scripts/package.sh" --release-key "$work/release.pub" "$1" >"$work/refusal" 2>&1; then
    echo "package-check: package.sh shipped $1" >&2; exit 1
  fi
  grep -q "$2" "$work/refusal" && grep -q "not shipping it" "$work/refusal" \
    || { cat "$work/refusal" >&2; echo "package-check: the refusal of $1 does not say why" >&2; exit 1; }
  [ "$(ls -l --time-style=full-iso "$root"/build/quorvel_*.deb 2>/dev/null || true)" = "$release_before" ] \
    || { echo "package-check: the refused package.sh changed build/" >&2; exit 1; }
}
refuse "$work/vers.kq" "is a demo package"
refuse "$work/stripped.kq" "is not signed"
if bash "$root/scripts/package.sh" "$work/vers.kq" >"$work/refusal" 2>&1; then
  echo "package-check: package.sh built a release without a release key" >&2; exit 1
fi
echo "package-check: a demo firmware package (signed or stripped) and a keyless release are refused"

# The check's own .deb: random firmware signed as a release by the check's
# key, in programs built to trust that key alone.
"$pack" create --key "$work/release.key" "$work/release.kq" "$work/rz4417.bin" 1.5 "$work/kwt6083.bin" 2.05 >/dev/null
mkdir "$work/with-firmware"
deb="$(bash "$root/scripts/package.sh" --check-into "$work/with-firmware" --release-key "$work/release.pub" \
       "$work/release.kq" | tail -1)"
lint "$deb"
cp "$work/release.kq" "$work/vers.kq"

tree="$work/unpacked"
dpkg-deb -x "$deb" "$tree"
cmp "$work/vers.kq" "$tree/opt/quorvel/vers.kq"
for f in usr/share/icons/hicolor/scalable/apps/quorvel.svg usr/share/icons/hicolor/48x48/apps/quorvel.png \
         usr/share/doc/quorvel/copyright usr/share/doc/quorvel/changelog.gz usr/share/man/man1/quorvel.1.gz; do
  [ -s "$tree/$f" ] || { echo "package-check: $f missing from the package" >&2; exit 1; }
done
[ "$(readlink "$tree/usr/bin/quorvel")" = /opt/quorvel/Quorvel ] || { echo "package-check: /usr/bin/quorvel is no link to /opt/quorvel/Quorvel" >&2; exit 1; }
desktop-file-validate "$tree/usr/share/applications/com.quorvel.Quorvel.desktop"
appstreamcli validate --no-net "$tree/usr/share/metainfo/com.quorvel.Quorvel.metainfo.xml"

for product in RZ4417 KWT6083; do
  bash "$root/scripts/drive-update.sh" "$tree/opt/quorvel/Quorvel" "$tree/usr/bin/quorvel-simcam" \
       "$tree/usr/bin/quorvel-pack" "$product"
done
echo "package-check: passes (the checked packages were built in a temporary folder, never in build/)"
