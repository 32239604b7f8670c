#!/usr/bin/env bash
# The Windows programs under Wine, against simulated cameras: builds them
# (scripts/build-windows.sh), makes a Wine prefix of its own, and links each
# camera's pseudo-terminal into the prefix's dosdevices/ as a COM port, so
# quorvel-flash.exe opens \\.\COM7 through Wine's Win32 comm API
# (CreateFile, SetCommState, ClearCommError, overlapped ReadFile/WriteFile)
# exactly as on Windows. Each case checks the exit code against the Linux
# quorvel-flash's in the same case, and the camera's own verdict.
#
#   1. a whole update on COM7, received exact to the byte
#   2. the camera answers ERROR mid-stream
#   3. the camera is unplugged mid-stream (its pty closed)
#   4. a port another program holds: "in use by another program" (see below)
#   5. three cameras at once on COM3, COM4 and COM5
#   6. quorvel-pack.exe create and inspect: the same bytes and the same
#      report as the Linux quorvel-pack; keygen, a signed create and verify
#      (libgcrypt as linked into the .exe), checked by the Linux tool too
#   7. quorvel-ports.exe lists the linked ports
#
# What Wine does not show, and so is not proven here (see docs/windows.md):
# - The port is a pseudo-terminal, not a USB serial driver: line speed,
#   parity, DTR/RTS and flow control are accepted and have no effect, and
#   bytes move as fast as the pty takes them.
# - A pulled cable: Wine reports ERROR_NOT_READY (21) once the pty's far end
#   is closed; a USB driver on Windows reports 5, 22, 31 or 995. The backend
#   takes any failure on an open port as the hang-up, so both are covered by
#   one path, but only Wine's code is seen here.
# - "In use by another program": Wine lets two programs open one port, so
#   a held port is stood in for by a folder Wine cannot open (case 4); what is
#   proven is the loader's answer to ERROR_ACCESS_DENIED, not Windows' refusal.
# - HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lists only the ports Wine found at its
#   start; the linked ones are found by their DOS names (QueryDosDevice).
# - Ctrl+C in a Windows console, the window (Qt) and SetupAPI's USB names
#   are not exercised.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
started=$SECONDS

"$root/scripts/build-windows.sh" >/dev/null
cmake --build "$root/build" --target quorvel-flash quorvel-pack quorvel-simcam -j"$(nproc)" >/dev/null

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
work="$(mktemp -d /tmp/quorvel-wine.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

bin="$root/build-windows/tools"
cp "$bin/flash/quorvel-flash.exe" "$bin/pack/quorvel-pack.exe" "$bin/ports/quorvel-ports.exe" "$work/"
linux_flash="$root/build/tools/flash/quorvel-flash"
linux_pack="$root/build/tools/pack/quorvel-pack"
simcam="$root/build/tools/simcam/quorvel-simcam"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
winpath() { echo "Z:${1//\//\\}"; }

echo "Wine prefix (first start takes some seconds)..."
"$wine" wineboot -i >"$work/wineboot.log" 2>&1 || true
# One wineserver for the whole run, its chatter kept out of the log.
/usr/lib/wine/wineserver -p >/dev/null 2>&1 || true

# Two small images and the package the cameras are updated from.
head -c 70000 /dev/urandom >"$work/image0"
head -c 50000 /dev/urandom >"$work/image1"
"$linux_pack" create "$work/vers.kq" "$work/image0" 1.5 "$work/image1" 2.05 >/dev/null
package="$(winpath "$work/vers.kq")"

# Starts a camera linked as COM<n>; extra arguments go to quorvel-simcam.
camera() {
  local n=$1; shift
  "$simcam" --link "$WINEPREFIX/dosdevices/com$n" --erase 0.2 --program 0.2 "$@" >"$work/cam$n.log" 2>&1 &
  pids+=($!)
  local deadline=$((SECONDS + 10))
  until [ -L "$WINEPREFIX/dosdevices/com$n" ]; do
    [ $SECONDS -lt $deadline ] || { fail "camera COM$n did not start"; return 1; }
    sleep 0.05
  done
}
# The same camera for the Linux quorvel-flash, on a link of its own.
linux_camera() {
  "$simcam" --link "$work/linux-cam" --erase 0.2 --program 0.2 "$@" >"$work/linux-cam.log" 2>&1 &
  pids+=($!)
  local deadline=$((SECONDS + 10))
  until [ -L "$work/linux-cam" ]; do
    [ $SECONDS -lt $deadline ] || { fail "Linux camera did not start"; return 1; }
    sleep 0.05
  done
}
stop_cameras() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  pids=()
}
flash_exe() { (cd "$work" && timeout 120 "$wine" ./quorvel-flash.exe "$@"); }
linux_code() {
  local code=0
  timeout 120 "$linux_flash" --port "$work/linux-cam" --package "$work/vers.kq" "$@" >"$work/linux.out" 2>&1 || code=$?
  echo "$code"
}

# Runs one case on COM<port>: the same camera for Wine and Linux, the exit
# codes compared, the Windows log kept in $work/case.out.
# Usage: run_case NAME PORT EXPECTED_CODE [simcam options...]
run_case() {
  local name=$1 port=$2 expected=$3; shift 3
  camera "$port" "$@" || return
  local code=0
  flash_exe --port "COM$port" --package "$package" --wait 20 >"$work/case.out" 2>&1 || code=$?
  stop_cameras
  linux_camera "$@" || return
  local lcode
  lcode="$(linux_code --wait 20)"
  stop_cameras
  if [ "$code" = "$expected" ] && [ "$lcode" = "$expected" ]; then
    pass "$name: exit $code under Wine, $lcode on Linux"
  else
    fail "$name: exit $code under Wine, $lcode on Linux, $expected expected"
    sed 's/^/    /' "$work/case.out"
  fi
}

# 1. A whole update on COM7: the camera checks the size and the checksum of
# what it received against the header, and what it took is compared with
# the image byte for byte.
echo "1. whole update on COM7"
camera 7 --save-image "$work/received7.bin" || true
code=0
flash_exe --port COM7 --package "$package" --wait 20 >"$work/update.out" 2>"$work/update.err" || code=$?
stop_cameras
sed 's/^/    /' "$work/update.out"
sed 's/^/    camera: /' "$work/cam7.log"
if [ "$code" = 0 ] && grep -q "image received: 70000 bytes, checksum 0x[0-9A-F]* matches" "$work/cam7.log" \
   && grep -q "verdict: OK" "$work/cam7.log" && grep -q "success COM7 (COM7) RZ4417" "$work/update.out" \
   && cmp -s "$work/received7.bin" "$work/image0"; then
  pass "whole update on COM7: exit 0, the camera took the 70000 bytes of the image, exact to the byte"
else
  fail "whole update on COM7: exit $code"
  sed 's/^/    /' "$work/update.err"
fi
linux_camera || true
lcode="$(linux_code --wait 20)"
stop_cameras
[ "$lcode" = 0 ] && pass "the same update on Linux: exit 0" || fail "the same update on Linux: exit $lcode"

# 2. and 3.
echo "2. ERROR mid-stream"
run_case "ERROR after 20000 bytes" 7 1 --error-after 20000
grep -q "ERROR" "$work/case.out" || fail "the log does not show the camera's ERROR"
echo "3. unplugged mid-stream"
run_case "camera unplugged after 20000 bytes" 7 4 --hang-up-after 20000

# 4. A port another program holds. Windows refuses the second open of a COM
# port with ERROR_ACCESS_DENIED, which the loader logs as "in use by another
# program" and keeps trying. Wine does not refuse a second open of a port
# (and a Linux holder's TIOCEXCL does not stop root), so here the COM name is
# linked to a folder, which Wine, like Windows, refuses to open as a file
# with ERROR_ACCESS_DENIED, the answer Windows gives for a held port. On
# Linux the device is held for real (flock).
echo "4. busy port"
mkdir -p "$work/folder"
ln -sfn "$work/folder" "$WINEPREFIX/dosdevices/com8"
code=0
flash_exe --port COM8 --package "$package" --wait 4 >"$work/busy.out" 2>&1 || code=$?
rm -f "$WINEPREFIX/dosdevices/com8"
linux_camera || true
flock "$work/linux-cam" sleep 8 &
holder=$!
sleep 0.5
lcode="$(linux_code --wait 4)"
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
stop_cameras
if [ "$code" = 6 ] && [ "$lcode" = 6 ] && grep -q "COM8 (COM8): in use by another program" "$work/busy.out" \
   && grep -q "in use by" "$work/linux.out"; then
  pass "busy port: \"$(grep -m1 "in use" "$work/busy.out" | tr -d '\r')\", exit 6 (the port cannot be used), 6 on Linux"
else
  fail "busy port: exit $code under Wine, $lcode on Linux"
  sed 's/^/    /' "$work/busy.out" "$work/linux.out"
fi

# 5. Three cameras, three processes, at once.
echo "5. three cameras at once"
for n in 3 4 5; do camera "$n" --rate 20000 --save-image "$work/received$n.bin" || true; done
three=()
for n in 3 4 5; do
  (cd "$work" && timeout 120 "$wine" ./quorvel-flash.exe --port "COM$n" --package "$package" --wait 30 >"$work/three$n.out" 2>&1) &
  three+=($!)
done
for i in 0 1 2; do
  n=$((i + 3))
  code=0
  wait "${three[$i]}" || code=$?
  codes[$n]=$code
done
stop_cameras
for n in 3 4 5; do
  if [ "${codes[$n]}" = 0 ] && grep -q "verdict: OK" "$work/cam$n.log" && cmp -s "$work/received$n.bin" "$work/image0"; then
    pass "COM$n of three: exit 0, $(grep -o "image received.*" "$work/cam$n.log"), exact to the byte"
  else
    fail "COM$n of three: exit ${codes[$n]}"
    sed 's/^/    /' "$work/three$n.out" "$work/cam$n.log"
  fi
done

# 5b. One command for two ports: quorvel-flash.exe starts a process of its
# own per port (CreateProcess), each updates its camera, a summary at the end.
echo "5b. two ports in one command"
for n in 3 4; do camera "$n" --save-image "$work/pair$n.bin" || true; done
code=0
flash_exe --port COM3 --port COM4 --package "$package" --wait 30 >"$work/pair.out" 2>&1 || code=$?
stop_cameras
if [ "$code" = 0 ] && cmp -s "$work/pair3.bin" "$work/image0" && cmp -s "$work/pair4.bin" "$work/image0" \
   && grep -q "ports: 2 cameras, 2 updated, 0 failed" "$work/pair.out" && grep -q "^\[COM4\] quorvel-flash: success" "$work/pair.out"; then
  pass "two ports in one command: exit 0, both cameras took the image exact to the byte"
else
  fail "two ports in one command: exit $code"
  sed 's/^/    /' "$work/pair.out"
fi

# 6. quorvel-pack.exe: create makes the same bytes as on Linux, inspect
# reads it the same way.
echo "6. quorvel-pack.exe create and inspect"
code=0
(cd "$work" && "$wine" ./quorvel-pack.exe create "$(winpath "$work/win.kq")" "$(winpath "$work/image0")" 1.5 \
  "$(winpath "$work/image1")" 2.05) >"$work/create.out" 2>&1 || code=$?
if [ "$code" = 0 ] && cmp -s "$work/win.kq" "$work/vers.kq"; then
  pass "quorvel-pack.exe create: exit 0, the same $(stat -c %s "$work/win.kq") bytes as the Linux quorvel-pack's"
else
  fail "quorvel-pack.exe create: exit $code, files differ"
  sed 's/^/    /' "$work/create.out"
fi
code=0
(cd "$work" && "$wine" ./quorvel-pack.exe inspect "$package") 2>&1 | tr -d '\r' >"$work/inspect-win.out" || code=$?
lcode=0
"$linux_pack" inspect "$work/vers.kq" >"$work/inspect-linux.out" 2>&1 || lcode=$?
if [ "$code" = "$lcode" ] && diff <(sed 's#[^ ]*vers.kq#PACKAGE#' "$work/inspect-win.out") \
                                   <(sed 's#[^ ]*vers.kq#PACKAGE#' "$work/inspect-linux.out") >/dev/null; then
  pass "quorvel-pack.exe inspect: exit $code, the same report as on Linux"
else
  fail "quorvel-pack.exe inspect: exit $code (Linux $lcode)"
  diff "$work/inspect-win.out" "$work/inspect-linux.out" | sed 's/^/    /' || true
fi
code=0
(cd "$work" && "$wine" ./quorvel-pack.exe inspect "$(winpath "$work/image0")") >/dev/null 2>&1 || code=$?
lcode=0
"$linux_pack" inspect "$work/image0" >/dev/null 2>&1 || lcode=$?
[ "$code" = "$lcode" ] && pass "quorvel-pack.exe inspect of no package: exit $code, as on Linux" \
  || fail "quorvel-pack.exe inspect of no package: exit $code, Linux $lcode"

# Signing: a key pair made by the .exe, a package it signs, verified by the
# .exe and by the Linux tool; one byte changed, refused by both.
code=0
(cd "$work" && "$wine" ./quorvel-pack.exe keygen maker && "$wine" ./quorvel-pack.exe create --key maker.key signed.kq \
  "$(winpath "$work/image0")" 1.5 "$(winpath "$work/image1")" 2.05 && "$wine" ./quorvel-pack.exe verify --key maker.pub \
  --release signed.kq) >"$work/sign.out" 2>&1 || code=$?
lcode=0
"$linux_pack" verify --key "$work/maker.pub" --release "$work/signed.kq" >>"$work/sign.out" 2>&1 || lcode=$?
[ "$code" = 0 ] && [ "$lcode" = 0 ] && pass "quorvel-pack.exe keygen, create --key, verify: exit 0, verified on Linux too" \
  || { fail "quorvel-pack.exe signing: exit $code, Linux verify $lcode"; sed 's/^/    /' "$work/sign.out"; }
printf '\x01' | dd of="$work/signed.kq" bs=1 seek=5000 conv=notrunc 2>/dev/null
code=0; (cd "$work" && "$wine" ./quorvel-pack.exe verify --key maker.pub signed.kq) >/dev/null 2>&1 || code=$?
lcode=0; "$linux_pack" verify --key "$work/maker.pub" "$work/signed.kq" >/dev/null 2>&1 || lcode=$?
[ "$code" = 1 ] && [ "$lcode" = 1 ] && pass "one byte changed: verify exit 1 under Wine and on Linux" \
  || fail "one byte changed: verify exit $code under Wine, $lcode on Linux"

# The refusals: no package, a bad option.
code=0; flash_exe --package 'Z:\nowhere\vers.kq' --wait 1 >/dev/null 2>&1 || code=$?
lcode=0; "$linux_flash" --package /nowhere/vers.kq --wait 1 >/dev/null 2>&1 || lcode=$?
[ "$code" = "$lcode" ] && pass "missing package: exit $code, as on Linux" || fail "missing package: exit $code, Linux $lcode"
code=0; flash_exe --no-such-option >/dev/null 2>&1 || code=$?
lcode=0; "$linux_flash" --no-such-option >/dev/null 2>&1 || lcode=$?
[ "$code" = "$lcode" ] && pass "bad option: exit $code, as on Linux" || fail "bad option: exit $code, Linux $lcode"

# 7. The port doctor sees the linked ports by their Windows names.
echo "7. quorvel-ports.exe"
camera 9 || true
code=0
(cd "$work" && "$wine" ./quorvel-ports.exe) 2>&1 | tr -d '\r' >"$work/ports.out" || code=$?
stop_cameras
sed 's/^/    /' "$work/ports.out"
grep -q "^COM9 .*usable" "$work/ports.out" && pass "quorvel-ports.exe lists COM9 as usable" \
  || fail "quorvel-ports.exe does not list COM9"

echo "Wine stage: $((SECONDS - started)) s, $failures failure(s)"
[ "$failures" = 0 ]
