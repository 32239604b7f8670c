#!/usr/bin/env bash
# Takes the README's screenshots of the running program under Xvfb, driven
# with real clicks and keys (xdotool), against the simulated camera at
# 115200 baud: the panel idle, mid-update and after a successful update, on a
# light desktop (Qt's own palette) and on a dark one (a KDE dark colour
# scheme, which Qt reads from kdeglobals), and once in French; then with a
# 16-point desktop font, light and dark, driven from the keyboard, with the
# instructions popup.
# Usage: screenshots.sh [OUTDIR]   (default: a new folder from mktemp -d, printed)
#        screenshots.sh docs       regenerates the README's pictures
# Writes quorvel-{idle,mid-update,finished}.png, quorvel-dark-{...}.png,
# quorvel-french.png, and quorvel-16pt-{,dark-}{instructions,mid-update}.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Never a fixed name in /tmp: another user may have put a link there first.
out="${1:-$(mktemp -d -t quorvel-shots.XXXXXX)}"
mkdir -p "$out"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
exe="$root/build/src/Quorvel"
[ -f "$(dirname "$exe")/vers.kq" ] || "$root/scripts/make-package.sh" "$(dirname "$exe")/vers.kq" 262144 196608

work="$(mktemp -d -t quorvel-shots-work.XXXXXX)"
app="" cam=""
# A display of our own: Xvfb picks a free number and tells it on fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & xvfb=$!
cleanup() { kill $app $cam "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"

# Breeze Dark's colours, as KDE writes them.
mkdir -p "$work/dark"
cat >"$work/dark/kdeglobals" <<'EOT'
[General]
ColorScheme=BreezeDark
widgetStyle=Fusion

[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
ForegroundInactive=161,169,177

[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=239,240,241

[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241

[Colors:View]
BackgroundNormal=35,38,41
ForegroundNormal=239,240,241
ForegroundInactive=161,169,177

[Colors:Window]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
ForegroundInactive=161,169,177
EOT

# The same desktops with a 16-point font (KDE's [General] font).
mkdir -p "$work/large-light" "$work/large-dark"
printf '[General]\nfont=DejaVu Sans,16,-1,5,50,0,0,0,0,0\nwidgetStyle=Fusion\n' >"$work/large-light/kdeglobals"
sed 's/^\[General\]$/[General]\nfont=DejaVu Sans,16,-1,5,50,0,0,0,0,0/' "$work/dark/kdeglobals" >"$work/large-dark/kdeglobals"

win=""
shot() { import -window "$win" "$out/$1.png"; echo "$out/$1.png"; }
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

# One update from start to success; $1 is the pictures' prefix.
session() {
  local prefix="$1"
  : >"$work/cam"
  "$root/build/tools/simcam/quorvel-simcam" --rate 11520 --erase 3 --program 4 >"$work/cam" 2>&1 & cam=$!
  for _ in $(seq 50); do [ -s "$work/cam" ] && break; sleep 0.1; done
  QUORVEL_COM_PORTS="1=$(head -1 "$work/cam")" "$exe" & app=$!
  win=""
  for _ in $(seq 100); do win="$(xdotool search --name 'Quorvel - v1.09' 2>/dev/null | head -1)" && [ -n "$win" ] && break; sleep 0.1; done
  # No window manager: give the window the keyboard as a desktop would.
  xdotool windowfocus "$win" 2>/dev/null || true
  sleep 1
  shot "$prefix-idle"
  if [ "$prefix" = quorvel ]; then
    click 383 16; sleep 0.5        # the flag: to French
    shot quorvel-french
    click 383 16; sleep 0.5        # and back to English
  fi
  click 202 312; sleep 1           # Start
  xdotool key Return               # Ok in the instructions; the camera answers
  # Mid-update: once the camera has half the image (it reports once a second).
  for _ in $(seq 600); do grep -qE 'received [0-9]+ of [0-9]+ bytes \((4[5-9]|5[0-9]) %\)' "$work/cam" && break; sleep 0.1; done
  sleep 0.5                        # the panel's next one-second mark
  shot "$prefix-mid-update"
  for _ in $(seq 120); do grep -q "verdict" "$work/cam" && grep -q "WRITE OK" "$work/cam" && break; sleep 0.5; done
  sleep 2
  shot "$prefix-finished"
  kill "$app" "$cam" 2>/dev/null || true
  wait "$app" "$cam" 2>/dev/null || true
  app="" cam=""
}

# With a large desktop font: the instructions popup over the panel (the
# whole screen), then the panel mid-update; Start by Alt+S, Ok by Enter.
large() {
  local prefix="$1"
  : >"$work/cam"
  "$root/build/tools/simcam/quorvel-simcam" --rate 11520 --erase 3 --program 4 >"$work/cam" 2>&1 & cam=$!
  for _ in $(seq 50); do [ -s "$work/cam" ] && break; sleep 0.1; done
  QUORVEL_COM_PORTS="1=$(head -1 "$work/cam")" "$exe" & app=$!
  win=""
  for _ in $(seq 100); do win="$(xdotool search --name 'Quorvel - v1.09' 2>/dev/null | head -1)" && [ -n "$win" ] && break; sleep 0.1; done
  xdotool windowfocus "$win" 2>/dev/null || true
  sleep 1
  xdotool key alt+s; sleep 1.5
  import -window root "$out/$prefix-instructions.png"; echo "$out/$prefix-instructions.png"
  xdotool key Return
  for _ in $(seq 600); do grep -qE 'received [0-9]+ of [0-9]+ bytes \((4[5-9]|5[0-9]) %\)' "$work/cam" && break; sleep 0.1; done
  sleep 0.5
  shot "$prefix-mid-update"
  kill "$app" "$cam" 2>/dev/null || true
  wait "$app" "$cam" 2>/dev/null || true
  app="" cam=""
}

session quorvel
XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark" session quorvel-dark
XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/large-light" large quorvel-16pt
XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/large-dark" large quorvel-16pt-dark
