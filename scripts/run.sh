#!/usr/bin/env bash
# Builds Morvent, starts the instrument simulator on loopback and shows its instrument tree.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
sim=build/tools/zemat-sim/zemat-sim
cli=build/tools/morvent-cli/morvent-cli
ports=$(mktemp)
"$sim" --telnet-port 0 --data-port 0 --ports-file "$ports" --quiet > /dev/null &
simpid=$!
trap 'kill $simpid 2>/dev/null || true; rm -f "$ports"' EXIT
for _ in $(seq 100); do grep -q '^data-port' "$ports" 2>/dev/null && break; sleep 0.1; done
telnet=$(awk '$1=="telnet-port"{print $2}' "$ports")
data=$(awk '$1=="data-port"{print $2}' "$ports")
echo "Simulator on 127.0.0.1, telnet port $telnet, data port $data"
"$cli" --address 127.0.0.1 --telnet-port "$telnet" --data-port "$data" tree
