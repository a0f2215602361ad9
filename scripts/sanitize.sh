#!/usr/bin/env bash
# The whole suite under ASan+UBSan, then the threaded tests (label "threaded") under TSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build gui
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DMORVENT_SANITIZE=address -DMORVENT_BENCH=OFF -DMORVENT_GUI=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 900
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DMORVENT_SANITIZE=thread -DMORVENT_BENCH=OFF -DMORVENT_GUI=ON
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" --timeout 900 -L threaded
