#!/usr/bin/env bash
# CPU cost of the port scan: runs Quorvel under Xvfb with COM1..COM49 mapped
# to devices that do not exist, and reads the process's user+system time
# from /proc/<pid>/stat over the same span idle (before Start) and scanning
# (after Start and Ok). Usage: bench/scan_cpu.sh [seconds]  (default 30)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
span="${1:-30}"
exe="$root/build/src/Quorvel"
command -v xdotool >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xdotool >/dev/null
[ -x "$exe" ] || "$root/scripts/build.sh" "$root/build"
[ -f "$(dirname "$exe")/vers.kq" ] || "$root/scripts/make-package.sh" "$(dirname "$exe")/vers.kq" 262144 196608

export DISPLAY=:78
Xvfb "$DISPLAY" -screen 0 640x480x24 >/dev/null 2>&1 & xvfb=$!
cleanup() { kill "${app:-}" "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1
list=""
for n in $(seq 49); do list="${list:+$list,}$n=/dev/quorvel-absent-$n"; done
QUORVEL_COM_PORTS="$list" "$exe" & app=$!
for _ in $(seq 100); do win="$(xdotool search --name 'Quorvel - v1.09' 2>/dev/null | head -1)" && [ -n "$win" ] && break; sleep 0.1; done
sleep 2

ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }  # utime + stime, clock ticks
hz="$(getconf CLK_TCK)"
measure() {
  local before after
  before="$(ticks)"; sleep "$span"; after="$(ticks)"
  awk -v t="$((after - before))" -v hz="$hz" -v s="$span" -v what="$1" \
    'BEGIN { printf "%s: %.2f s of CPU in %d s = %.2f %% of a core\n", what, t / hz, s, 100 * t / hz / s }'
}
measure "idle, before Start"
xdotool mousemove --window "$win" 202 312 click 1; sleep 1   # Start
xdotool key Return; sleep 2                                  # Ok: the scan runs
measure "scanning 49 absent ports"
# Proof that the scan was running: its open attempts over 3 s (49 a second).
if command -v strace >/dev/null; then
  tries="$( (timeout 3 strace -p "$app" -e trace=openat,open 2>&1 || true) | grep -c quorvel-absent || true)"
  echo "open attempts on the absent devices in 3 s: $tries"
fi
