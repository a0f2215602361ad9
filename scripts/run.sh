#!/usr/bin/env bash
# Builds Morvent, starts the instrument simulator on loopback and starts the desktop application with
# a settings file that points at it: the tool button "connect to the last instrument" connects at once.
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

# The settings file beside the program: only the keys that point at the simulator change, every other
# setting (layouts, window position, font) stays as the user left it.
ini=build/src/app/Morvent.ini
[ -w build/src/app ] || ini="${XDG_CONFIG_HOME:-$HOME/.config}/Morvent/Morvent.ini"
mkdir -p "$(dirname "$ini")"
touch "$ini"
ini_set() {  # ini_set SECTION KEY VALUE
  local tmp
  tmp=$(mktemp)
  awk -v sec="$1" -v key="$2" -v val="$3" '
    function flush() { if (insec && !done) { print key "=" val; done = 1 } }
    function blanks() { for (; held > 0; held--) print "" }
    /^[ \t\r]*$/ { held++; next }
    /^\[.*\][ \t\r]*$/ { flush(); name = $0; sub(/^\[/, "", name); sub(/\][ \t\r]*$/, "", name); insec = (name == sec) }
    insec && index($0, key "=") == 1 { blanks(); if (!done) print key "=" val; done = 1; next }
    { blanks(); print }
    END { flush(); blanks(); if (!done) { print "[" sec "]"; print key "=" val } }' "$ini" > "$tmp"
  cat "$tmp" > "$ini"
  rm -f "$tmp"
}
ini_set LastConfig Link 0
ini_set LastConfig LAN 127.0.0.1
ini_set LAN TelnetPort "$telnet"
ini_set LAN DataPort "$data"
echo "Settings: $ini (LAN 127.0.0.1). Click the first tool button to connect to the simulator."
"$app"
