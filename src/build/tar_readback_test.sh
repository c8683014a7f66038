#!/usr/bin/env bash
# Writes archives of sample folders and files with buildfiles_tool under Wine, then reads each one
# back with GNU tar and with bsdtar: both must list the expected names without complaint, and
# extract the same bytes, names and modification times.
# Usage: tar_readback_test.sh PATH/TO/buildfiles_tool.exe
set -euo pipefail
tool=$1
wine_run="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-run.sh"

work=$(mktemp -d /tmp/tar_readback.XXXXXX)
trap 'rm -rf "$work"' EXIT
src=$work/src
out=$work/out
mkdir -p "$src" "$out"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

winpath() { printf 'Z:%s' "${1//\//\\}"; }

# make_tar SOURCE NAME: runs the writer, leaving $out/NAME.tar; returns its exit code.
make_tar() {
  local status=0
  BUILDFILES_TOOL_LOG=$(winpath "$out/$2.log") "$wine_run" "$tool" tar "$(winpath "$1")" "$(winpath "$out/$2.tar")" \
    </dev/null || status=$?
  return $status
}

# ---- Sample sources
mkdir "$src/empty"

mkdir "$src/sizes"
: >"$src/sizes/zero.bin"
printf '0123456789' >"$src/sizes/ten.txt"
for n in 511 512 513 4096 4097; do head -c $n /dev/urandom >"$src/sizes/b$n"; done
head -c 3000000 /dev/urandom >"$src/sizes/large.bin"
printf 'spaced' >"$src/sizes/with space.txt"

long_folder=$(printf 'd%.0s' $(seq 1 60))
mkdir "$src/$long_folder"
for n in 37 38 39 120; do  # folder, "/" and these give 98, 99, 100 and 181 bytes
  printf 'content %d' $n >"$src/$long_folder/$(printf 'f%.0s' $(seq 1 $n))"
done

mkdir "$src/dated"
printf 'old' >"$src/dated/old.txt"
touch -d @1765000000 "$src/dated/old.txt"
touch -d @946684800 "$src/dated"

# Names outside ASCII are stored in the Windows ANSI code page (1252 here): é is byte 0xE9.
mkdir "$src/caf$(printf '\xc3\xa9')"
printf 'latin' >"$src/caf$(printf '\xc3\xa9')/na$(printf '\xc3\xaf')ve.txt"

head -c 1000 /dev/urandom >"$src/single.bin"

# expected_names CASE: the names each reader must list, in the archive's code page.
expected_names() {
  case $1 in
    single) echo single.bin ;;
    latin1) printf '%s\n' 'caf\351/' 'caf\351/na\357ve.txt' ;;  # as both readers escape them
    *)
      echo "$2/"
      (cd "$src/$2" && find . -type f -printf '%P\n' | sed "s|^|$2/|")
      ;;
  esac
}

# check CASE SOURCE-NAME: write and read back one archive.
check() {
  local case=$1 name=$2 tarfile=$out/$1.tar
  if ! make_tar "$src/$name" "$case"; then
    fail "$case: the writer failed"
    iconv -f UTF-16LE -t UTF-8 "$out/$case.log" >&2 2>/dev/null || true
    return
  fi
  local size
  size=$(stat -c %s "$tarfile")
  ((size % 512 == 0)) || fail "$case: archive size $size is not whole blocks"

  local expected
  expected=$(expected_names "$case" "$name" | sort)
  local reader
  for reader in tar bsdtar; do
    local listed errors
    listed=$(LC_ALL=C $reader -tf "$tarfile" 2>"$work/stderr") || fail "$case: $reader -t failed"
    errors=$(cat "$work/stderr")
    [ -z "$errors" ] || fail "$case: $reader -t complained: $errors"
    [ "$(sort <<<"$listed")" == "$expected" ] ||
      fail "$case: $reader lists $(sort <<<"$listed" | tr '\n' '|') instead of $(tr '\n' '|' <<<"$expected")"

    local into=$work/x-$reader-$case
    mkdir -p "$into"
    LC_ALL=C $reader -xf "$tarfile" -C "$into" 2>"$work/stderr" || fail "$case: $reader -x failed: $(cat "$work/stderr")"
    if [ "$case" == latin1 ]; then
      cmp -s "$src/$name/na$(printf '\xc3\xaf')ve.txt" "$into/caf$(printf '\xe9')/na$(printf '\xef')ve.txt" ||
        fail "$case: $reader extracted other bytes or names"
      continue
    fi
    diff -r "$src/$name" "$into/$name" >/dev/null || fail "$case: $reader extracted other bytes or names"
    # Files keep their modification time (in whole seconds).
    while IFS= read -r -d '' file; do
      local rel=${file#"$src/$name"}
      [ "$(stat -c %Y "$file")" == "$(stat -c %Y "$into/$name$rel")" ] ||
        fail "$case: $reader gave $rel another modification time"
    done < <(find "$src/$name" -type f -print0)
  done
}

check empty empty
check sizes sizes
check longnames "$long_folder"
check dated dated
check latin1 "caf$(printf '\xc3\xa9')"
check single single.bin

# The folder's entry and the file's carry their own times.
dated_times=$(TZ=UTC tar -tvf "$out/dated.tar" --full-time | awk '{print $6 "=" $4 " " $5}' | sort | tr '\n' '|')
[ "$dated_times" == "dated/=2000-01-01 00:00:00|dated/old.txt=2025-12-06 05:46:40|" ] ||
  fail "dated: GNU tar shows the times $dated_times"

# ---- Refusals leave nothing behind, or leave what was there.
mkdir -p "$src/nested/sub"
printf 'x' >"$src/nested/a.txt"
status=0
make_tar "$src/nested" nested || status=$?
[ $status -eq 1 ] || fail "nested: the writer exited with $status instead of 1"
[ ! -e "$out/nested.tar" ] || fail "nested: a partial archive remains"

printf 'keep me' >"$out/existing.tar"
status=0
make_tar "$src/sizes" existing || status=$?
[ $status -eq 1 ] || fail "existing: the writer exited with $status instead of 1"
[ "$(cat "$out/existing.tar")" == "keep me" ] || fail "existing: the file at the TAR path was changed"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all archives read back by GNU tar and bsdtar"
