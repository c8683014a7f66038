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
# A test that fails is run once more, and the run says so: a failure that does not come back
# (such as a Wine start lost to the platform; see scripts/bin/wine) does not fail the whole run,
# and stays visible. A caller's own --repeat replaces this.
repeat=(--repeat until-pass:2)
case " $* " in *" --repeat "*) repeat=() ;; esac
start_wine_server
# One program keeps the desktop in use for the whole run. Without it, Wine closes the desktop
# (and ends explorer, its owner) a second after each test program, and starts both again for the
# next one: a test program that starts just as the desktop closes can find none to open its
# windows on.
wine "${trees[0]}/bin/wintool.exe" hold </dev/null >/dev/null 2>&1 &
watcher=
trap '[ -z "$watcher" ] || kill "$watcher" 2>/dev/null; stop_wine_server' EXIT
status=0
for tree in "${trees[@]}"; do
  echo "== Tests of $tree"
  # A 64-bit test tree exists to keep 32-bit programs out of the suite where they run only
  # emulated: every 32-bit process its tests start is listed, and fails the run.
  seen=
  if grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$tree/CMakeCache.txt" && ! kernel_runs_x86; then
    seen="$tree/x86-processes.log"
    : >"$seen"
    watch_x86_processes "$seen" &
    watcher=$!
  fi
  output=$(mktemp)
  (cd "$tree" && ctest --output-on-failure --timeout 300 "${repeat[@]}" "$@") | tee "$output" ||
    status=1
  retried=$(sed -nE 's/^.*Test +#[0-9]+: ([^ ]+) \.+\*\*\*.*$/\1/p' "$output" | sort -u)
  rm -f "$output"
  [ -z "$retried" ] || printf 'Failed once, then run again: %s\n' $retried
  if [ -n "$seen" ]; then
    kill "$watcher" 2>/dev/null || true
    wait "$watcher" 2>/dev/null || true
    watcher=
    if [ -s "$seen" ]; then
      echo "32-bit processes started by the tests of $tree (each costs about 45 s emulated):"
      cat "$seen"
      status=1
    else
      echo "No 32-bit process was started by the tests of $tree."
    fi
  fi
done
exit $status
