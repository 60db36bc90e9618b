#!/usr/bin/env bash
# Installs what is missing, builds the helper and runs every test: once in a normal build,
# once under AddressSanitizer and UndefinedBehaviorSanitizer, once under ThreadSanitizer.
# Fails on any failing test or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
  ctest --test-dir "$dir" --output-on-failure --parallel "$jobs" --timeout 300
}

echo "== build and test"
run_suite build

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
# strict_string_checks is left off: it makes every string call of libical's parser scan the
# rest of the file again, which turns a parse quadratic and times tests out.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Memory that libraries keep to the end on purpose (fontconfig's caches, the HEVC
# encoder the image tests write HEIC files with) is not the helper's leak.
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0
run_suite build-sanitize -DWREN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

echo "== build and test under ThreadSanitizer"
# Optimised, unlike the build above: the race detector slows code down enough on its own.
unset ASAN_OPTIONS UBSAN_OPTIONS
export TSAN_OPTIONS=halt_on_error=1:abort_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan-suppressions.txt
run_suite build-tsan -DWREN_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
