#!/usr/bin/env bash
# Endurance soak of the desktop application against the simulator, offscreen (not part of the tests):
#   scripts/soak.sh [MINUTES] [OPTIONS]          MINUTES (default 30) of endurance, then 10000 teardown rounds
#   scripts/soak.sh --tsan [MINUTES] [OPTIONS]   the same under the thread sanitizer (default 5 minutes, 200 rounds)
# OPTIONS go to morvent-soak (--rounds N, --phase endurance|teardown, --seed N, --rate N, --verbose).
# SOAK_BUILD_DIR names the build folder (default build-soak, build-soak-tsan). Exit code 0 only on PASS.
set -euo pipefail
cd "$(dirname "$0")/.."
tsan=0
if [ "${1:-}" = "--tsan" ]; then tsan=1; shift; fi
minutes=""
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then minutes=$1; shift; fi
scripts/deps.sh build gui
if [ $tsan = 1 ]; then
  dir=${SOAK_BUILD_DIR:-build-soak-tsan}
  flags=(-DCMAKE_BUILD_TYPE=Debug -DMORVENT_SANITIZE=thread)
  defaults=(--minutes "${minutes:-5}" --rounds 200)
else
  dir=${SOAK_BUILD_DIR:-build-soak}
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  defaults=(--minutes "${minutes:-30}")
fi
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" -DMORVENT_BENCH=OFF -DMORVENT_GUI=ON > "$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" --target morvent-soak -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
# A race report does not stop the run; any report makes the exit code 66.
export TSAN_OPTIONS="second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
set +e
"$dir/tools/morvent-soak/morvent-soak" "${defaults[@]}" "$@"
rc=$?
set -e
[ $tsan = 1 ] && [ $rc = 66 ] && echo "soak.sh: the thread sanitizer reported races (see above)"
exit $rc
