#!/usr/bin/env bash
# Sets up, builds and starts Quorvel. With no camera attached (no
# /dev/ttyACM*, /dev/ttyUSB*, and QUORVEL_COM_PORTS unset) it starts the
# simulated camera on a pseudo-terminal at the speed of a 115200-baud line and
# maps it as COM1, so that Start, then Ok, runs a whole update. Stopping
# Quorvel stops the camera. Without a display it runs under Xvfb.
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
  rm -rf "${workdir:-}"
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
      --rate 11520 --erase 3 --program 4 --repeat >"$workdir/camera.out" &
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
  echo "no display: running under Xvfb (take screenshots with: xwd -root -display \$DISPLAY)"
  xvfb-run -a -s "-screen 0 1024x768x24" "$exe"
else
  "$exe"
fi
