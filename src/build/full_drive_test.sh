#!/usr/bin/env bash
# Mounts a 2 MiB tmpfs, makes it a drive of the Wine prefix, and checks on a real small and then
# full file system: the free-space check at its exact boundary, a resource write that does not
# fit (no file may remain), and an archive that does not fit (no partial archive may remain).
# Needs root for the mount; skipped (exit code 77) where mounting is not allowed.
# Usage: full_drive_test.sh PATH/TO/buildfiles_tool.exe
set -euo pipefail
tool=$1
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-env.sh"

mnt=$(mktemp -d /tmp/full_drive.XXXXXX)
if ! mount -t tmpfs -o size=2m tmpfs "$mnt" 2>/dev/null; then
  rmdir "$mnt"
  echo "cannot mount a tmpfs here; skipped"
  exit 77
fi
letter=
for l in t u v w x y; do
  if [ ! -e "$WINEPREFIX/dosdevices/$l:" ]; then letter=$l; break; fi
done
cleanup() {
  [ -n "$letter" ] && rm -f "$WINEPREFIX/dosdevices/$letter:"
  umount "$mnt" 2>/dev/null || umount -l "$mnt"  # lazily if Wine still holds it
  rmdir "$mnt"
  rm -rf "$src"
}
src=$(mktemp -d /tmp/full_drive_src.XXXXXX)
trap cleanup EXIT
[ -n "$letter" ] || { echo "no free drive letter" >&2; exit 1; }
ln -s "$mnt" "$WINEPREFIX/dosdevices/$letter:"
drive=${letter^^}:
failures=0

# expect CODE ARGS...: runs the tool and compares its exit code.
expect() {
  local want=$1 status=0
  shift
  wine "$tool" "$@" </dev/null || status=$?
  if [ $status -ne "$want" ]; then
    echo "FAIL: buildfiles_tool $* exited with $status instead of $want" >&2
    failures=$((failures + 1))
  fi
}
check() {
  if ! eval "$1"; then
    echo "FAIL: $2" >&2
    failures=$((failures + 1))
  fi
}

# Empty: exactly 2 MiB free.
expect 0 space "$drive\\" 2
expect 1 space "$drive\\" 3
# One byte takes a 4 KiB page: no longer 2 MiB.
printf x >"$mnt/one"
expect 1 space "$drive\\" 2
expect 0 space "$drive\\" 1

# An archive bigger than the drive fails and leaves nothing.
head -c 3000000 /dev/urandom >"$src/big.bin"
expect 1 tar "Z:${src//\//\\}" "$drive\\big.tar"
check '[ ! -e "$mnt/big.tar" ]' "a partial archive remains on the full drive"

# Full: nothing required still passes; a resource write fails and leaves no file.
head -c 4M /dev/zero >"$mnt/fill" 2>/dev/null || true
check '[ "$(stat -f -c %a "$mnt")" -eq 0 ]' "the drive is not full"
expect 0 space "$drive\\" 0
expect 1 space "$drive\\" 1
expect 1 extract "$drive\\7z.exe"
check '[ ! -e "$mnt/7z.exe" ]' "a partly written resource file remains on the full drive"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "free space, resource and archive behave on a full drive"
