#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build bench gui package
scripts/check-tree.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_GUI=ON -DMORVENT_WERROR=ON
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 600
