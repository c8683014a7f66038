#!/usr/bin/env bash
# The rooms of src/, bottom to top: a file includes headers of its own room and of rooms below
# it only, never of a room above it, and a room's libraries and programs link libraries of its own
# room and of rooms below it only. Lists every include and every link that reaches up.
# Usage: rooms_test.sh [SRC_DIR] (the project's src/ when not given)
set -euo pipefail
src=$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../../src}" && pwd)
rooms=(handles log uitext framework signing contracts options installation controls serverinfo password groups mail build program app cli)
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

# The CMake commands of src/, one a line, each prefixed with the room of the folder it is in
# ("-" for src/ itself): comments dropped, arguments joined onto one line.
commands() {
  local file room
  for file in "$src"/CMakeLists.txt "$src"/*/CMakeLists.txt; do
    room=$(basename "$(dirname "$file")")
    [ "$file" != "$src/CMakeLists.txt" ] || room=-
    sed 's/#.*//' "$file" | tr '\n' ' ' | grep -o '[a-z_]*([^)]*)' | sed "s/^/$room /" || true
  done
}
# A target belongs to the room whose folder defines it; one defined in src/ itself, to the room of
# its first source (the folder it names first).
declare -A owner
while read -r room _ name rest; do
  if [ "$room" = - ]; then
    room=
    for word in $rest; do
      case $word in STATIC | SHARED | OBJECT | MODULE | WIN32) continue ;; esac
      [[ $word != */* ]] || room=${word%%/*}
      break
    done
  fi
  if [ -z "$room" ] || [ -z "${level[$room]:-}" ]; then
    echo "FAIL: the target $name belongs to no room"
    failures=$((failures + 1))
    continue
  fi
  owner[$name]=$room
done < <(commands | sed -n 's/^\([^ ]*\) add_\(library\|executable\)( *\([^ )]*\)\(.*\))$/\1 - \3 \4/p')
# Test programs may link what they test with; libraries from outside src/ (the system's, the
# stand-in server's, the test support) belong to no room.
while read -r _ name libraries; do
  case $name in *_test) continue ;; esac
  [ -n "${owner[$name]:-}" ] || continue
  for library in $libraries; do
    [ -n "${owner[$library]:-}" ] || continue
    if [ "${level[${owner[$library]}]}" -gt "${level[${owner[$name]}]}" ]; then
      echo "FAIL: $name (${owner[$name]}) links $library, a library of ${owner[$library]}, a room above it"
      failures=$((failures + 1))
    fi
  done
done < <(commands | sed -n 's/^\([^ ]*\) target_link_libraries( *\([^ )]*\)\(.*\))$/\1 \2 \3/p' |
  sed 's/ \(PUBLIC\|PRIVATE\|INTERFACE\)\b//g')
[ $failures = 0 ] || exit 1
echo "no room reaches up"
