#!/usr/bin/env bash
# One program's command line against its documentation: the option names of --help, of the man page
# (SYNOPSIS up to EXIT STATUS) and, when given, of the bash completion are the same; --version prints
# the build's version; an unknown option is a usage error that names it; the page formats cleanly.
# check_options.sh PROGRAM MANPAGE VERSION [COMPLETION]
set -euo pipefail
prog=$1 page=$2 version=$3 completion=${4:-}
name=$(basename "$prog")
fail() {
  echo "FAIL: $name: $*" >&2
  exit 1
}
options() { grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u; }

help=$("$prog" --help | options)
[ -n "$help" ] || fail "--help lists no options"
# roff writes a hyphen as \-
page_options=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH EXIT STATUS/p' "$page" | sed 's/\\-/-/g' | options)
diff <(echo "$help") <(echo "$page_options") || fail "options of --help (<) and $page (>) differ"
if [ -n "$completion" ]; then
  diff <(echo "$help") <(options < "$completion") || fail "options of --help (<) and $completion (>) differ"
fi

[ "$("$prog" --version)" = "$name $version" ] || fail "--version prints \"$("$prog" --version)\""

err=$(mktemp)
trap 'rm -f "$err"' EXIT
rc=0
"$prog" --no-such-option > /dev/null 2> "$err" || rc=$?
[ "$rc" -eq 2 ] || fail "an unknown option gives exit code $rc, not 2"
grep -q -- '--no-such-option' "$err" || fail "the usage error does not name the option: $(cat "$err")"

if command -v man > /dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
fi
echo "$name: $(echo "$help" | wc -l) options agree with $(basename "$page")${completion:+ and the completion}"
