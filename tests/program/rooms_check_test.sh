#!/usr/bin/env bash
# rooms_test.sh on small made-up source trees, one a row: it passes a tree whose rooms include and
# link downwards only, and names the file or target of each include or link that reaches up,
# however the CMake command is written (arguments over several lines, comments, link keywords).
set -euo pipefail
check=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/rooms_test.sh
work=$(mktemp -d /tmp/rooms_check.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Every tree starts from this one: a library of log (defined in src/ itself, like tracelog) and one
# of app that links it and a system library.
base() {
  rm -rf "$work/src"
  mkdir -p "$work/src/log" "$work/src/app"
  printf 'add_library(tracelog STATIC log/trace_log.cpp)\nadd_subdirectory(app)\n' >"$work/src/CMakeLists.txt"
  printf '#include "log/trace_log.h"\n' >"$work/src/app/app.cpp"
  printf 'add_library(appcore STATIC app.cpp)\ntarget_link_libraries(appcore PUBLIC tracelog shell32)\n' \
    >"$work/src/app/CMakeLists.txt"
}

# name | exit status | output holds ("-": nothing to find) | what is added to the tree (bash)
rows=(
  "downward only|0|no room reaches up|:"
  "an include up|1|log/up.cpp includes app/|printf '#include \"app/app.h\"\n' >\$work/src/log/up.cpp"
  "a test may include up|0|no room reaches up|printf '#include \"app/app.h\"\n' >\$work/src/log/up_test.cpp"
  "a link up|1|logparts (log) links appcore, a library of app|printf 'add_library(logparts STATIC a.cpp)\ntarget_link_libraries(logparts PUBLIC appcore)\n' >\$work/src/log/CMakeLists.txt"
  "a link up over lines, after a comment|1|logparts (log) links appcore|printf 'add_library(logparts STATIC a.cpp)\ntarget_link_libraries(logparts # why\n  PRIVATE tracelog\n  INTERFACE\n    appcore)\n' >\$work/src/log/CMakeLists.txt"
  "a program of src/ linking up|1|logtool (log) links appcore|printf 'add_executable(logtool WIN32 log/tool.cpp \$<TARGET_OBJECTS:res>)\ntarget_link_libraries(logtool PRIVATE appcore)\n' >>\$work/src/CMakeLists.txt"
  "a test program may link up|0|no room reaches up|printf 'add_executable(log_test log/log_test.cpp)\ntarget_link_libraries(log_test PRIVATE appcore)\n' >>\$work/src/CMakeLists.txt"
  "a target of no room|1|the target stray belongs to no room|printf 'add_library(stray STATIC third_party/x.cpp)\n' >>\$work/src/CMakeLists.txt"
  "a folder of no room|1|src/extras is no known room|mkdir \$work/src/extras"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name expected holds change <<<"$row"
  base
  eval "$change"
  status=0
  output=$(bash "$check" "$work/src" 2>&1) || status=$?
  [ "$status" = "$expected" ] || fail "$name: exit status $status, not $expected: $output"
  grep -qF -- "$holds" <<<"$output" || fail "$name: the output does not say \"$holds\": $output"
done
[ $failures = 0 ] || exit 1
echo "every row passed"
