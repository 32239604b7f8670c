#!/usr/bin/env bash
# Takes screenshots of the running program under Xvfb, driven with real
# clicks and keys (xdotool): the panel at start, after one language toggle,
# mid-transfer and at success, against the simulated camera at 115200 baud.
# Usage: screenshots.sh [OUTDIR]   (default: a new folder from mktemp -d, printed)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Never a fixed name in /tmp: another user may have put a link there first.
out="${1:-$(mktemp -d -t quorvel-shots.XXXXXX)}"
mkdir -p "$out"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
exe="$root/build/src/Quorvel"
[ -f "$(dirname "$exe")/vers.kq" ] || "$root/scripts/make-package.sh" "$(dirname "$exe")/vers.kq" 262144 196608

work="$(mktemp -d)"
# A display of our own: Xvfb picks a free number and tells it on fd 3.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & xvfb=$!
cleanup() { kill "${app:-}" "${cam:-}" "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"

"$root/build/tools/simcam/quorvel-simcam" --rate 11520 --erase 3 --program 4 >"$work/cam" 2>&1 & cam=$!
for _ in $(seq 50); do [ -s "$work/cam" ] && break; sleep 0.1; done
export QUORVEL_COM_PORTS="1=$(head -1 "$work/cam")"
"$exe" & app=$!
for _ in $(seq 100); do win="$(xdotool search --name 'Quorvel - v1.09' 2>/dev/null | head -1)" && [ -n "$win" ] && break; sleep 0.1; done
sleep 1
shot() { import -window "$win" "$out/$1.png"; echo "$out/$1.png"; }
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

shot 1-start
click 383 16; sleep 0.5          # the flag: to French
shot 2-french
click 383 16; sleep 0.5          # and back to English
click 202 312; sleep 1           # Start
xdotool key Return               # Ok in the instructions; the camera answers
# Mid-transfer: once the camera has half the image (it reports once a second).
for _ in $(seq 600); do grep -qE 'received [0-9]+ of [0-9]+ bytes \((4[5-9]|5[0-9]) %\)' "$work/cam" && break; sleep 0.1; done
sleep 0.5                        # the panel's next one-second mark
shot 3-mid-transfer
for _ in $(seq 120); do grep -q "verdict" "$work/cam" && grep -q "WRITE OK" "$work/cam" && break; sleep 0.5; done
sleep 2
shot 4-success
