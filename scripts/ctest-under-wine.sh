#!/usr/bin/env bash
# Runs ctest in each build tree given before "--", with one Wine server kept alive for the whole
# run (started inside the X server); arguments after "--" go to every ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
trees=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  trees+=("$1")
  shift
done
[ $# -eq 0 ] || shift
start_wine_server
# One program keeps the desktop in use for the whole run. Without it, Wine closes the desktop
# (and ends explorer, its owner) a second after each test program, and starts both again for the
# next one: a test program that starts just as the desktop closes can find none to open its
# windows on.
wine "${trees[0]}/bin/wintool.exe" hold </dev/null >/dev/null 2>&1 &
trap stop_wine_server EXIT
status=0
for tree in "${trees[@]}"; do
  echo "== Tests of $tree"
  (cd "$tree" && ctest --output-on-failure --timeout 300 "$@") || status=1
done
exit $status
