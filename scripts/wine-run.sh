#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix; used by CMake and ctest.
#
# A program that ends with a non-zero status says why, even when it never got to print a word
# (a library that does not load, a desktop that cannot be opened, an exception before main):
# Wine's own error lines are kept, and after a failure they are printed with the exit status.
# After a success only the program's own standard error is passed on. Nothing is retried.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
errors=$(mktemp /tmp/wine-run.XXXXXX)
trap 'rm -f "$errors"' EXIT
status=0
WINEDEBUG=err+all,warn-all,fixme-all,trace-all wine "$@" 2>"$errors" || status=$?
# Wine's lines begin with a thread number and a class: "0024:err:module:import_dll ...".
if [ $status = 0 ]; then
  grep -Ev '^[0-9a-f]{4}:(err|warn|fixme|trace):' "$errors" >&2 || true
else
  cat "$errors" >&2
  echo "wine-run.sh: $1 ended with exit status $status; Wine's error lines, if any, are above." >&2
fi
exit $status
