#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and fuzzes each in turn, starting from its seed
# corpus and its regression inputs: fuzz.sh [SECONDS [TARGET...]] (default 300 s each, every target).
# New corpus entries collect in build-fuzz/corpus/TARGET, findings in build-fuzz/findings/TARGET.
# FUZZ_JOBS=N fuzzes with N processes per target (libFuzzer's fork mode; use it only on an idle machine).
# FUZZ_TIMEOUT=S: seconds of wall time an input may take (default 10; raise it on a loaded machine).
set -euo pipefail
cd "$(dirname "$0")/.."
# target name, then the folder that holds its corpus/ and regressions/
targets=(
  "frames tests/StandardApp/fuzz/frames"
  "enumeration tests/StandardApp/fuzz/enumeration"
  "compiler tests/script/fuzz/compiler"
  "image tests/script/fuzz/image"
  "formfile tests/script/fuzz/formfile"
  "regexp tests/scriptlib/fuzz/regexp"
  "inifile tests/app/fuzz/inifile"
  "simconfig tests/zemat-sim/fuzz/simconfig"
)
seconds=${1:-300}
shift $(($# > 0 ? 1 : 0))
wanted=("$@")
jobs=${FUZZ_JOBS:-1}

scripts/deps.sh build fuzz
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_FUZZ=ON -DMORVENT_GUI=OFF \
  -DMORVENT_BENCH=OFF -DMORVENT_SANITIZE=address > build-fuzz.configure.log
selected=()
for t in "${targets[@]}"; do
  name=${t%% *}
  if ((${#wanted[@]} == 0)) || [[ " ${wanted[*]} " == *" $name "* ]]; then selected+=("$t"); fi
done
((${#selected[@]} > 0)) || { echo "no such target: ${wanted[*]}" >&2; exit 2; }
programs=()
for t in "${selected[@]}"; do programs+=("fuzz_${t%% *}"); done
cmake --build build-fuzz --target "${programs[@]}" -j "${FUZZ_BUILD_JOBS:-2}"

status=0
for t in "${selected[@]}"; do
  name=${t%% *} data=${t#* }
  program=$(find build-fuzz/tests -name "fuzz_$name" -type f -perm -u+x | head -n 1)
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/findings/$name"
  parallel=()
  ((jobs > 1)) && parallel=(-fork="$jobs")
  echo "== $name: $seconds s, $jobs process(es)"
  # Each finding is written to build-fuzz/findings/NAME; keep it as a regression input once fixed.
  "$program" -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/findings/$name/" "${parallel[@]}" \
    "build-fuzz/corpus/$name" "$data/corpus" "$data/regressions" 2>&1 | tee "build-fuzz/fuzz-$name.log" |
    grep --line-buffered -E '^#[0-9]+.*(INITED|DONE)|ERROR|SUMMARY|stat::|Test unit written' || true
  if ls "build-fuzz/findings/$name"/* > /dev/null 2>&1; then
    echo "   findings in build-fuzz/findings/$name"
    status=1
  fi
done
exit $status
