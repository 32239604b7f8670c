#!/usr/bin/env bash
# Runs one whole update with a Quorvel executable and the vers.kq beside it,
# against the simulated camera, under a private Xvfb, pressing Start and Ok
# as an operator does (xdotool). Passes when the camera reports the image
# received whole with the size and checksum quorvel-pack reads from vers.kq.
# Usage: drive-update.sh QUORVEL SIMCAM PACK [RZ4417|KWT6083]
set -euo pipefail
exe="$1" simcam="$2" pack="$3" product="${4:-RZ4417}"
case "$product" in RZ4417) index=0 ;; KWT6083) index=1 ;; *) echo "unknown product $product" >&2; exit 2 ;; esac
package="$(dirname "$(realpath -e "$exe")")/vers.kq"

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "drive-update: $*" >&2; [ -f "$work/cam" ] && sed 's/^/  camera: /' "$work/cam" >&2; exit 1; }

# wait_for SECONDS COMMAND...: polls the condition until it holds or time runs out.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# The figures the camera must confirm, as Quorvel's own reader gives them.
"$pack" inspect "$package" >"$work/inspect" || fail "quorvel-pack refuses $package"
size="$(sed -n "s/^image $index, $product: version [^,]*, \([0-9]*\) bytes.*/\1/p" "$work/inspect")"
checksum="$(awk -v want="image $index," '$0 ~ "^" want {found=1; next} found && /checksum 0x/ {print $2; exit}' "$work/inspect")"
[ -n "$size" ] && [ -n "$checksum" ] || fail "no size or checksum for $product in the inspection"

# A display of our own: Xvfb picks a free number and tells it on fd 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 30 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"

"$simcam" --product "$product" --erase 0.5 --program 0.5 >"$work/cam" 2>&1 &
pids+=($!)
wait_for 30 test -s "$work/cam" || fail "the simulated camera did not start"
export QUORVEL_COM_PORTS="1=$(head -1 "$work/cam")"

"$exe" >"$work/quorvel.log" 2>&1 &
app=$!
pids+=($app)
find_window() { win="$(xdotool search --name "$1" 2>/dev/null | head -1)" && [ -n "$win" ]; }
wait_for 60 find_window '^Quorvel - v' || fail "no Quorvel window (is vers.kq beside $exe?)"
main="$win"
sleep 0.5  # the first paint; xdotool's click lands on the mapped button
xdotool mousemove --window "$main" 202 312 click 1          # Start
wait_for 30 find_window '^Please' || fail "no instructions after Start"
xdotool windowfocus --sync "$win" key Return                 # Ok
wait_for 120 grep -q 'verdict:' "$work/cam" || fail "the camera gave no verdict"

grep -q 'verdict: OK' "$work/cam" || fail "the update did not succeed"
grep -q "image received: $size bytes, checksum $checksum matches" "$work/cam" \
  || fail "the camera did not receive $size bytes with checksum $checksum"
kill -0 "$app" 2>/dev/null || fail "Quorvel ended during the update"
echo "$product: camera received $size bytes, checksum $checksum, verdict OK"
