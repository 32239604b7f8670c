#!/usr/bin/env bash
# Sets up, builds and runs every test. With SANITIZE=address,undefined or
# SANITIZE=thread it builds into build-<name>/ with those sanitizers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

build="$root/build"
args=()
ctest_args=()
export QT_QPA_PLATFORM=offscreen
case "${SANITIZE:-}" in
  "") ;;
  thread)
    build="$root/build-tsan"
    args+=(-DQUORVEL_SANITIZE=thread)
    ctest_args+=(-L tsan)
    # Qt is not instrumented: its own allocations and hand-overs between its
    # threads (image conversion, the test watchdog) are not ours to judge.
    # Races in our code, instrumented, are still reported.
    export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 ${TSAN_OPTIONS:-}"
    ;;
  *)
    build="$root/build-asan"
    args+=(-DQUORVEL_SANITIZE="$SANITIZE")
    export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
    export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp print_suppressions=0 ${LSAN_OPTIONS:-}"
    export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
    ;;
esac
# The plain build shares build/ (Release) with the run command; the
# sanitizer builds keep their symbols for readable reports.
if [ -n "${SANITIZE:-}" ]; then BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"; fi
BUILD_TYPE="${BUILD_TYPE:-Release}" "$root/scripts/build.sh" "$build" "${args[@]}"
ctest --test-dir "$build" --output-on-failure -j2 "${ctest_args[@]}"
