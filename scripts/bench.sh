#!/usr/bin/env bash
# Builds Release with the benchmarks and prints Quorvel's performance table:
# each figure beside a baseline measured in the same run, and their ratio,
# then one `NAME VALUE` line per figure for the record.
#
#   bash scripts/bench.sh              the code of this tree (about 20 minutes:
#                                      15 of them a streaming device's)
#   bash scripts/bench.sh --at COMMIT  the program as it was at COMMIT, measured
#                                      by this tree's benchmarks (for a before/after)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

source_dir="$root"
build="$root/build-bench"
if [ "${1:-}" = "--at" ]; then
  commit="$2"
  # A fixed place, so that the build beside it is reused from run to run.
  source_dir="$root/build-bench-$commit.src"
  rm -rf "$source_dir"
  mkdir -p "$source_dir"
  git -C "$root" archive "$commit" | tar -x -C "$source_dir"
  rm -rf "$source_dir/bench"
  cp -r "$root/bench" "$source_dir/bench"
  build="$root/build-bench-$commit"
fi

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

# Quorvel needs its package beside it to show its window.
[ -f "$build/src/vers.kq" ] || bash "$root/scripts/make-package.sh" "$build/src/vers.kq" >/dev/null

rows="$(mktemp)"
xvfb_pid=""
cleanup() {
  rm -f "$rows"
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

load_before="$(uptime)"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$build/bench/quorvel_bench" checksum streaming stall idlecpu linerate \
  --simcam "$build/tools/simcam/quorvel-simcam" >>"$rows"

# The window's log under a device streaming hex digits without line ends:
# memory and CPU after 15 minutes beside the first minute's
# (QUORVEL_BENCH_STREAM_SECONDS shortens it; 0 leaves it out).
stream_seconds="${QUORVEL_BENCH_STREAM_SECONDS:-900}"
if [ "$stream_seconds" != 0 ]; then
  QUORVEL_BENCH_STREAM_SECONDS="$stream_seconds" "$build/bench/quorvel_bench" logstream >>"$rows"
fi

# quorvel-flash at line rate (115200 baud): three cameras at once, one
# process per port, against one camera alone (target: 1.4 times at most).
flash_seconds() {  # flash_seconds N: seconds for N cameras updated side by side
  local n="$1" dir pids="" devices=() i start end
  dir="$(mktemp -d)"
  for i in $(seq "$n"); do
    "$build/tools/simcam/quorvel-simcam" --rate 11520 --quiet >"$dir/sim$i" &
    pids="$pids $!"
  done
  for i in $(seq "$n"); do
    until [ -s "$dir/sim$i" ]; do sleep 0.05; done
    devices+=("$(head -n 1 "$dir/sim$i")")
  done
  start="$(date +%s.%N)"
  local flashes=""
  for device in "${devices[@]}"; do
    "$build/tools/flash/quorvel-flash" --package "$build/src/vers.kq" --allow-demo --port "$device" --wait 30 --quiet \
      >/dev/null 2>&1 &
    flashes="$flashes $!"
  done
  local failed=0
  for pid in $flashes; do wait "$pid" || failed=1; done
  end="$(date +%s.%N)"
  kill $pids 2>/dev/null || true
  wait $pids 2>/dev/null || true
  rm -rf "$dir"
  [ "$failed" = 0 ] || { echo "bench: quorvel-flash failed" >&2; return 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' 
}
one="$(flash_seconds 1)"
three="$(flash_seconds 3)"
printf 'flash_three_cameras_s|%.1f|s|one camera|%.1f|%.2f\n' "$three" "$one" "$(awk -v a="$three" -v b="$one" 'BEGIN { print a / b }')" >>"$rows"

# Start-up needs a real X server: a private Xvfb on a free display.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
(unset QT_QPA_PLATFORM; DISPLAY=":$display" QT_QPA_PLATFORM=xcb \
  "$build/bench/window_map" 7 "$build/src/Quorvel" "$build/bench/bare_qt_window") >>"$rows"
load_after="$(uptime)"

echo "Quorvel performance ($(git -C "$root" rev-parse --short HEAD)${commit:+, program at $commit}), $(nproc) cores"
echo "load before: $load_before"
echo "load after:  $load_after"
echo
{
  echo "figure|value|unit|baseline|baseline value|ratio"
  cat "$rows"
} | column -t -s '|'
echo
while IFS='|' read -r name value unit _ _ ratio; do
  case "$name" in
    stall_chatty_port_ms|stop_chatty_port_ms|idle_cpu_scanning_percent|log_stream_*) echo "$name $value" ;;
    *) echo "$name $ratio" ;;
  esac
done <"$rows"
