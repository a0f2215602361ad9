#!/usr/bin/env bash
# morvent-cli's bash completion, driven as bash drives it: the commands offered are those of --help,
# then option values, the command found behind global options, each command's options and files.
# check_completion.sh COMPLETION MORVENT_CLI
set -uo pipefail
# shellcheck disable=SC1090
source "$1"
cli=$2
failed=0
offered() {  # the words completed for a command line whose last word is being typed, sorted
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _morvent_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' '
}
expect() {
  local want=$1 got
  shift
  got=$(offered "$@")
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$*': offered '$got', expected '$want'" >&2
    failed=1
  fi
}

commands=$("$cli" --help | sed -n '/^commands:/,/^[A-Z]/p' | awk '/^  [a-z]/ {print $1}' | sort | tr '\n' ' ')
[ -n "$commands" ] || { echo "FAIL: no commands in --help" >&2; exit 1; }
offered_commands=$(offered morvent-cli "" | tr ' ' '\n' | grep -v '^--' | sed '/^$/d' | sort | tr '\n' ' ')
[ "$offered_commands" = "$commands" ] || { echo "FAIL: commands '$offered_commands', --help has '$commands'" >&2; failed=1; }

expect "COM1 COM2 COM3 COM4 " morvent-cli --link CO
expect "0 1 2 3 4 " morvent-cli --trace ""
expect "listen " morvent-cli --address 127.0.0.1 --telnet-port 2323 li
expect "--count --seconds --via-cs " morvent-cli listen 1 MO --
expect "--debug --help --reply-wait " morvent-cli --link LAN run --
expect "" morvent-cli tree --
expect "" morvent-cli --help ""
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/selftest.pas" "$dir/image.dlb"
cd "$dir" || exit 1
expect "selftest.pas " morvent-cli run --debug 1 self
expect "image.dlb " morvent-cli firmware 1 im
[ "$failed" -eq 0 ] && echo "completion: commands, values, options and files as expected"
exit "$failed"
