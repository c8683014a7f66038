#!/usr/bin/env bash
# Writes archives of sample folders and a file with buildfiles_tool under Wine, then reads each
# back with GNU tar and with bsdtar: both must list the expected names without complaint and
# extract the same bytes, names and modification times.
# Usage: tar_readback_test.sh PATH/TO/buildfiles_tool.exe
set -euo pipefail
tool=$1
wine_run="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-run.sh"
work=$(mktemp -d /tmp/tar_readback.XXXXXX)
trap 'rm -rf "$work"' EXIT
src=$work/src
out=$work/out
mkdir -p "$src/empty" "$src/sizes" "$out"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
make_tar() {  # make_tar SOURCE NAME: writes $out/NAME.tar, returns the tool's exit code
  BUILDFILES_TOOL_LOG=$(winpath "$out/$2.log") "$wine_run" "$tool" tar "$(winpath "$1")" "$(winpath "$out/$2.tar")" \
    </dev/null
}

: >"$src/sizes/zero.bin"
printf '0123456789' >"$src/sizes/with space.txt"
for n in 511 512 513 3000000; do head -c $n /dev/urandom >"$src/sizes/b$n"; done
touch -d @1765000000 "$src/sizes/b513"
long=$(printf 'd%.0s' $(seq 1 60))
mkdir "$src/$long"
for n in 37 38 39 120; do  # with the folder name and "/": 98, 99, 100 and 181 bytes
  printf '%d' $n >"$src/$long/$(printf 'f%.0s' $(seq 1 $n))"
done
head -c 1000 /dev/urandom >"$src/single.bin"

check() {  # check NAME: archive $src/NAME and read it back
  local name=$1 tar=$out/$1.tar reader
  if ! make_tar "$src/$name" "$name"; then
    fail "$name: the writer failed"
    iconv -f UTF-16LE -t UTF-8 "$out/$name.log" >&2 || true
    return
  fi
  local expected=$name
  [ -d "$src/$name" ] && expected=$( (echo "$name/" && cd "$src" && find "$name" -type f) | sort)
  for reader in tar bsdtar; do
    local listed
    listed=$(LC_ALL=C $reader -tf "$tar" 2>"$work/stderr" | sort) || fail "$name: $reader -t failed"
    [ ! -s "$work/stderr" ] || fail "$name: $reader complained: $(cat "$work/stderr")"
    [ "$listed" == "$expected" ] || fail "$name: $reader lists $(tr '\n' '|' <<<"$listed")"
    mkdir -p "$work/$reader"
    LC_ALL=C $reader -xf "$tar" -C "$work/$reader" || fail "$name: $reader -x failed"
    diff -r "$src/$name" "$work/$reader/$name" >/dev/null || fail "$name: $reader extracted other content"
    while IFS= read -r -d '' file; do
      [ "$(stat -c %Y "$file")" == "$(stat -c %Y "$work/$reader/${file#"$src/"}")" ] ||
        fail "$name: $reader gave ${file#"$src/"} another modification time"
    done < <(find "$src/$name" -type f -print0)
  done
}
for name in empty sizes "$long" single.bin; do check "$name"; done

# Refusals: a folder holding a sub-folder leaves nothing; an existing file stays as it was.
mkdir -p "$src/nested/sub"
make_tar "$src/nested" nested && fail "nested: archived a sub-folder"
[ ! -e "$out/nested.tar" ] || fail "nested: a partial archive remains"
printf 'keep me' >"$out/existing.tar"
make_tar "$src/sizes" existing && fail "existing: overwrote a file"
[ "$(cat "$out/existing.tar")" == "keep me" ] || fail "existing: the file at the TAR path was changed"

[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all archives read back by GNU tar and bsdtar"
