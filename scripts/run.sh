#!/usr/bin/env bash
# Sets up, builds and starts Quorvel. With no camera attached (no
# /dev/ttyACM*, /dev/ttyUSB*, and QUORVEL_COM_PORTS unset) it starts the
# simulated camera on a pseudo-terminal at the speed of a 115200-baud line and
# maps it as COM1, so that Start, then Ok, runs a whole update. Stopping
# Quorvel stops the camera. Without a display it runs under a private Xvfb
# whose DISPLAY and XAUTHORITY it prints, with how to watch and drive it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"

exe="$root/build/src/Quorvel"
package="$(dirname "$exe")/vers.kq"
if [ ! -f "$package" ]; then
  # A demo package: 256 KiB for the RZ4417, 192 KiB for the KWT6083.
  "$root/scripts/make-package.sh" "$package" 262144 196608 1.5 2.05
fi

camera_pid=""
cleanup() {
  if [ -n "$camera_pid" ]; then kill "$camera_pid" 2>/dev/null || true; wait "$camera_pid" 2>/dev/null || true; fi
  if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "${workdir:-}" "${xdir:-}"
}
trap cleanup EXIT
trap "exit 130" INT TERM

real_camera=no
if [ -n "${QUORVEL_COM_PORTS:-}" ] || compgen -G "/dev/ttyACM*" >/dev/null || compgen -G "/dev/ttyUSB*" >/dev/null; then
  real_camera=yes
fi

if [ "$real_camera" = no ]; then
  workdir="$(mktemp -d)"
  mkfifo "$workdir/camera.out"
  "$root/build/tools/simcam/quorvel-simcam" --product "${QUORVEL_DEMO_PRODUCT:-RZ4417}" \
      --rate 11520 --erase 3 --program 4 --repeat-when-closed >"$workdir/camera.out" &
  camera_pid=$!
  exec 3<"$workdir/camera.out"
  read -r device <&3
  # Keep printing what the camera reports while Quorvel runs.
  (sed 's/^/[camera] /' <&3 &)
  exec 3<&-
  export QUORVEL_COM_PORTS="1=$device"
  echo "simulated camera on $device, mapped as COM1"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # A display of our own, reachable by whoever holds its cookie: its number
  # and authority file are printed so the operator can watch and drive it.
  xdir="$(mktemp -d -t quorvel-x.XXXXXX)"
  auth="$xdir/Xauthority"
  touch "$auth"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -auth "$auth" 3>"$xdir/display" >"$xdir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$xdir/display" ] && break; sleep 0.1; done
  display=":$(head -1 "$xdir/display")"
  xauth -f "$auth" add "$display" . "$(mcookie)"
  export DISPLAY="$display" XAUTHORITY="$auth"
  cat <<EOT
no display: Quorvel runs on a private Xvfb display
  DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY
watch it, in another terminal:
  DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY import -window root quorvel.png   # a screenshot
  x11vnc -display $DISPLAY -auth $XAUTHORITY -localhost                     # live, with a VNC viewer on localhost:5900
drive it:
  DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY xdotool search --name Quorvel      # then mousemove/click/key
EOT
  "$exe"
else
  "$exe"
fi
