#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs each; every figure is printed next to its baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build bench gui
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DMORVENT_GUI=ON
for b in build-bench/bench/*/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue  # not the generated folders beside them
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=offscreen "$b"  # the desktop benchmark needs no display
done
