#!/usr/bin/env bash
# Builds everything with AddressSanitizer, UndefinedBehaviorSanitizer and warnings as
# errors into build/test, then runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/test"
# Parallel jobs: KORVA_JOBS when set (a machine shared with others), else every core.
jobs=${KORVA_JOBS:-$(nproc 2>/dev/null || echo 4)}
case $jobs in ''|*[!0-9]*|0) echo "KORVA_JOBS must be a whole number of 1 or more, not '$jobs'"; exit 1 ;; esac
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVA_SANITIZE=ON -DKORVA_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$jobs"
