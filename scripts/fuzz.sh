#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, runs each for SECONDS
# (default 60), seeded from fuzz/corpus/NAME, and prints its executions and
# coverage. Exits 0 only when no target found anything; what a target found
# is kept in build-fuzz/artifacts/.
#
#   bash scripts/fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

seconds="${1:-60}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_package fuzz_receive)

build="$root/build-fuzz"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_FUZZ=ON -DQUORVEL_SANITIZE=address,undefined -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1 ${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0 ${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1 ${UBSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

status=0
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  corpus="$build/corpus/$name"     # grows from run to run; the seeds stay as they are
  artifacts="$build/artifacts/$name/"
  log="$build/$target.log"
  mkdir -p "$corpus" "$artifacts"
  extra=()
  # The per-input leak check runs an input twice whenever it ends with more
  # allocations than frees, as the receive path's do (the loaded image, the
  # log); it would cost that target a fifth of its speed. Leaks are judged
  # by the sanitizer test suite.
  [ "$name" = receive ] && extra+=(-detect_leaks=0)
  # One process fuzzes each corpus: rereading it every second only ran again
  # the inputs this process had just written there.
  extra+=(-reload=0)
  dict=()
  [ -f "$root/fuzz/$name.dict" ] && dict=(-dict="$root/fuzz/$name.dict")
  echo "== $target: ${seconds} s"
  if "$build/fuzz/$target" -max_total_time="$seconds" -max_len=8192 -timeout=30 \
      -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" "${extra[@]}" \
      "$corpus" "$root/fuzz/corpus/$name" >"$log" 2>&1; then
    result="nothing found"
  else
    result="FOUND SOMETHING (see $log and $artifacts)"
    status=1
  fi
  done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)"
  [ -n "$done_line" ] || done_line="$(grep -E '^#[0-9]+' "$log" | tail -1 || true)"
  execs="$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)"
  echo "   $result"
  echo "   executions: ${execs:-?}   last status: ${done_line:-none}"
done
exit "$status"
