#!/usr/bin/env bash
# The rooms of src/, bottom to top: a file includes headers of its own room and of rooms below
# it only, never of a room above it. Lists every include that reaches up.
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../src" && pwd)
rooms=(handles log uitext framework signing contracts options installation controls serverinfo password groups mail build app cli)
declare -A level
for i in "${!rooms[@]}"; do level[${rooms[$i]}]=$i; done
failures=0
for dir in "$src"/*/; do
  room=$(basename "$dir")
  [ -n "${level[$room]:-}" ] || { echo "FAIL: src/$room is no known room"; failures=$((failures + 1)); continue; }
  while IFS=: read -r file _ included; do
    target=$(sed -n 's/.*#include "\([^/"]*\)\/.*/\1/p' <<<"$included")
    [ -n "$target" ] && [ -n "${level[$target]:-}" ] || continue
    # Tests and their test data may use what they test with: only the room's own code counts.
    case $file in *_test.cpp | */testdata/*) continue ;; esac
    if [ "${level[$target]}" -gt "${level[$room]}" ]; then
      echo "FAIL: ${file#"$src"/} includes $target/, a room above $room"
      failures=$((failures + 1))
    fi
  done < <(grep -rn '#include "' "$dir" --include=*.h --include=*.cpp || true)
done
[ $failures = 0 ] || exit 1
echo "no room reaches up"
