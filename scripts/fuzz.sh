#!/usr/bin/env bash
# Builds the libFuzzer drivers with clang (ASan+UBSan) and runs each on its seed corpus: fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build fuzz
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_FUZZ=ON -DMORVENT_GUI=OFF \
  -DMORVENT_BENCH=OFF -DMORVENT_SANITIZE=address > build-fuzz.configure.log
cmake --build build-fuzz --target fuzz_compiler
seconds=${1:-300}
mkdir -p build-fuzz/corpus-compiler
build-fuzz/tests/script/fuzz_compiler -max_len=4096 -max_total_time="$seconds" build-fuzz/corpus-compiler \
  tests/script/fuzz/corpus
