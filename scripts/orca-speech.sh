#!/usr/bin/env bash
# What the Orca screen reader says over whole updates of the simulated
# camera, as a blind technician would hear them: one that succeeds and one
# the operator stops, in English, then the same in French, and one the
# camera refuses with ERROR. Runs Quorvel
# under a private Xvfb and D-Bus session with the AT-SPI bus and Orca,
# drives it from the keyboard (xdotool), and prints Orca's speech (the
# "SPEECH OUTPUT" lines of its debug log; no sound card is needed). Orca is
# started afresh for each update, with a debug log of its own.
# Usage: orca-speech.sh [OUTDIR]   (default: a new folder from mktemp -d)
# Leaves orca-<update>.log and orca-speech.txt in OUTDIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$(mktemp -d -t quorvel-orca.XXXXXX)}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# Orca and the accessibility bus are needed for this check only, not to build or test.
packages=(orca speech-dispatcher at-spi2-core dbus-x11 python3-pyatspi xvfb xdotool)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
"$root/scripts/build.sh" "$root/build" >/dev/null
exe="$root/build/src/Quorvel"
[ -f "$(dirname "$exe")/vers.kq" ] || "$root/scripts/make-package.sh" "$(dirname "$exe")/vers.kq" 262144 196608

work="$(mktemp -d -t quorvel-orca-work.XXXXXX)"
chmod 700 "$work"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"

export ROOT="$root" EXE="$exe" OUT="$out" WORK="$work"
dbus-run-session -- bash -s <<'SESSION'
set -uo pipefail
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1
gsettings set org.gnome.desktop.a11y.applications screen-reader-enabled true 2>/dev/null || true

# One update; $1: "success", "stop" or "error"; $2: "french" to switch the flag first.
update() {
  orca --replace --debug-file "$OUT/orca-$1-${2:-english}.log" >"$WORK/orca.out" 2>&1 &
  orca_pid=$!
  sleep 4
  : >"$WORK/cam"
  extra=""; [ "$1" = error ] && extra="--error-after 100000"
  "$ROOT/build/tools/simcam/quorvel-simcam" --rate 11520 --erase 3 --program 3 $extra >"$WORK/cam" 2>&1 & cam=$!
  for _ in $(seq 50); do [ -s "$WORK/cam" ] && break; sleep 0.1; done
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QUORVEL_COM_PORTS="1=$(head -1 "$WORK/cam")" "$EXE" >/dev/null 2>&1 & app=$!
  win=""
  for _ in $(seq 100); do win="$(xdotool search --name 'Quorvel - v' 2>/dev/null | head -1)" && [ -n "$win" ] && break; sleep 0.1; done
  xdotool windowfocus "$win" 2>/dev/null || true
  sleep 2
  if [ "${2:-}" = french ]; then
    xdotool key Tab; sleep 1; xdotool key space; sleep 2   # the flag, pressed from the keyboard
  fi
  xdotool key alt+s; sleep 3                                 # Start: the instructions
  xdotool key Return                                          # Ok
  sleep 1; xdotool windowfocus "$win" 2>/dev/null || true
  if [ "$1" = stop ]; then
    for _ in $(seq 300); do grep -qE '\((2[0-9]|3[0-9]) %\)' "$WORK/cam" && break; sleep 0.1; done
    xdotool key alt+s                                         # Stop
    sleep 4
  elif [ "$1" = error ]; then
    for _ in $(seq 600); do grep -q "verdict" "$WORK/cam" && break; sleep 0.1; done
    sleep 3
    xdotool key alt+s                                         # Stop, after the camera's ERROR
    sleep 4
  else
    for _ in $(seq 900); do grep -q "verdict" "$WORK/cam" && break; sleep 0.1; done
    sleep 5
  fi
  kill "$app" "$cam" 2>/dev/null; wait "$app" "$cam" 2>/dev/null
  kill $orca_pid 2>/dev/null; wait $orca_pid 2>/dev/null
}
update success
update stop
update error
update success french
update stop french
SESSION

: >"$out/orca-speech.txt"
for run in success-english stop-english error-english success-french stop-french; do
  echo "=== $run" >>"$out/orca-speech.txt"
  grep -E "SPEECH OUTPUT" "$out/orca-$run.log" | sed -E "s/^.*SPEECH OUTPUT: //; s/ ?\{[^}]*\}$//" >>"$out/orca-speech.txt" || true
done
cat "$out/orca-speech.txt"
echo "$out/orca-speech.txt"
