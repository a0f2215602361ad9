#!/usr/bin/env bash
# Builds Morvent, starts the instrument simulator on loopback and starts the desktop application with
# options that point it at the simulator and connect at once.
# Needs a display (X11 or Wayland); without one it prints the simulated tree through morvent-cli instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build gui
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVENT_GUI=ON
sim=build/tools/zemat-sim/zemat-sim
cli=build/tools/morvent-cli/morvent-cli
app=build/src/app/morvent
ports=$(mktemp)
"$sim" --telnet-port 0 --data-port 0 --ports-file "$ports" --quiet > /dev/null &
simpid=$!
trap 'kill $simpid 2>/dev/null || true; rm -f "$ports"' EXIT
for _ in $(seq 100); do grep -q '^data-port' "$ports" 2>/dev/null && break; sleep 0.1; done
telnet=$(awk '$1=="telnet-port"{print $2}' "$ports")
data=$(awk '$1=="data-port"{print $2}' "$ports")
[ -n "$data" ] || { echo "The simulator did not start" >&2; exit 1; }
echo "Simulator on 127.0.0.1, telnet port $telnet, data port $data"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): Morvent's window cannot open here."
  echo "The simulated instrument, through the command-line client:"
  "$cli" --address 127.0.0.1 --telnet-port "$telnet" --data-port "$data" tree
  exit 0
fi

# The options point this run at the simulator and connect at once; the settings file keeps the user's
# own instrument, layouts and window position.
echo "Starting morvent connected to the simulator (the settings file stays as it is)."
"$app" --address 127.0.0.1 --telnet-port "$telnet" --data-port "$data" --connect
