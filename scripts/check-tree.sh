#!/usr/bin/env bash
# Checks the whole tree before a build: one code style (clang-format), no "../" includes, and layers
# that only point down: a lower layer never includes a higher one, and neither the engines nor the
# script library include Qt.
set -euo pipefail
cd "$(dirname "$0")/.."

sources=$(find src tools tests bench -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
# folder, then the layers its files may include ("*": any); Qt-free folders are marked "noqt".
rules='
src/StandardApp noqt StandardApp
src/script noqt script
src/scriptlib noqt StandardApp script scriptlib
src/qtdispatch StandardApp qtdispatch
src/cuwindows StandardApp qtdispatch cuwindows
src/scripthost StandardApp script scriptlib qtdispatch cuwindows scripthost
src/graphics StandardApp script scriptlib qtdispatch graphics
src/forms StandardApp script scriptlib qtdispatch forms
src/app StandardApp script scriptlib qtdispatch cuwindows scripthost graphics forms app
tools/zemat-sim noqt zemat-sim
tools/morvent-cli noqt StandardApp script scriptlib morvent-cli
tools/formconv noqt script formconv
tools/morvent-soak StandardApp script scriptlib qtdispatch cuwindows scripthost graphics forms app support morvent-soak
'
failed=0
# shellcheck disable=SC2086
grep -HnE '^[[:space:]]*#[[:space:]]*include' $sources | awk -v rules="$rules" '
  BEGIN {
    n = split(rules, lines, "\n")
    for (i = 1; i <= n; i++) {
      k = split(lines[i], w, " ")
      if (k == 0) continue
      for (j = 2; j <= k; j++) if (w[j] == "noqt") noqt[w[1]] = 1; else ok[w[1] " " w[j]] = 1
      known[w[1]] = 1
    }
  }
  {
    split($0, parts, ":"); file = parts[1]
    split(file, p, "/"); dir = p[1] "/" p[2]
    line = $0; sub(/^[^:]*:[0-9]+:/, "", line)
    quoted = line ~ /"/
    inc = line; sub(/^[^"<]*["<]/, "", inc); sub(/[">].*$/, "", inc)
    if (inc ~ /(^|\/)\.\.\//) { print file ": relative include \"" inc "\""; bad = 1 }
    if (!quoted && inc ~ /^Q/ && (dir in noqt)) { print file ": Qt header <" inc "> in a Qt-free layer"; bad = 1 }
    if (quoted && inc ~ /\// && (dir in known)) {
      layer = inc; sub(/\/.*/, "", layer)
      if (!((dir " " layer) in ok)) { print file ": includes \"" inc "\" from a higher or foreign layer"; bad = 1 }
    }
  }
  END { exit bad }' || failed=1

style=$(mktemp)
# shellcheck disable=SC2086
if ! clang-format --dry-run --Werror $sources 2> "$style"; then
  grep -oE '^[^: ]+\.(cpp|h):' "$style" | sort -u | sed 's/:$/: not formatted (clang-format -i)/'
  failed=1
fi
rm -f "$style"
[ "$failed" -eq 0 ] && echo "check-tree: style and layers ok"
exit "$failed"
