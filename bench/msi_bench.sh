#!/usr/bin/env bash
# Benchmark of the MSI package builder: inserts the files of a 50-entry package plan into a copy
# of the stand-in template MSI with AddBinaryFilesToMsi, with a bare loop of the same Windows
# Installer calls (both under Wine, same msi.dll) and with msitools' msibuild (native), and prints
# the times and the ratios. Best of ROUNDS runs each.
# Usage: [BENCH_TREE=BUILD_TREE] bash bench/msi_bench.sh [FILES KIB ROUNDS]   (defaults 50 256 5; the
# tree: the shipping 32-bit build where the kernel runs 32-bit code, else the 64-bit test build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tree=${BENCH_TREE:-$(bench_default_tree)}
files=${1:-50}
kib=${2:-256}
rounds=${3:-5}

bench_build "$tree" msi_bench server_data_files
work=$(bench_workdir msi_bench $((4 * files * kib / 1024 + 64)))
trap 'rm -rf "$work"; bench_stop_wine_server' EXIT
data=$work/data
mkdir -p "$data" "$work/msibuild/Binary" "$work/export"
{
  printf '[CLIENT_PACKAGE]\r\nFILE_COUNT=%d\r\n' "$files"
  for i in $(seq 0 $((files - 1))); do printf '%d=file%02d.bin\r\n' "$i" "$i"; done
} >"$data/pkgplan.ini"
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\n' >"$work/msibuild/Binary.idt"
for i in $(seq 0 $((files - 1))); do
  name=$(printf 'file%02d.bin' "$i")
  head -c $((kib * 1024)) /dev/urandom >"$data/$name"
  ln "$data/$name" "$work/msibuild/Binary/$name.ibd"
  printf '%s\t%s\r\n' "$name" "$name.ibd" >>"$work/msibuild/Binary.idt"
done
template=$tree/bin/serverfiles/template.msi

now() { date +%s.%N; }
msibuild_seconds=1e30
for _ in $(seq 1 "$rounds"); do
  cp "$template" "$work/msibuild/native.msi"
  start=$(now)
  (cd "$work/msibuild" && msibuild native.msi -i Binary.idt)
  end=$(now)
  msibuild_seconds=$(awk -v a="$msibuild_seconds" -v s="$start" -v e="$end" 'BEGIN {b = e - s; print (b < a) ? b : a}')
done
# The export writes every stream into ./Binary/ of the current folder: the benchmark's own.
rows=$(cd "$work/export" && msiinfo export "$work/msibuild/native.msi" Binary | tail -n +4 | wc -l)
[ "$rows" -ge "$files" ] || { echo "msibuild stored $rows rows, expected $files" >&2; exit 1; }

results=$(wine "$tree/bin/msi_bench.exe" "$(winepath -w "$data")" "$(winepath -w "$template")" "$rounds" </dev/null |
  tr -d '\r')
eval "$results"  # files, ours_seconds, bare_seconds

awk -v n="$files" -v kib="$kib" -v o="$ours_seconds" -v b="$bare_seconds" -v m="$msibuild_seconds" \
  -v tree="$tree" -v rounds="$rounds" 'BEGIN {
  printf "Inserted %d files of %d KiB into the template MSI (%s, best of %d runs each)\n", n, kib, tree, rounds
  printf "  AddBinaryFilesToMsi (Wine msi.dll)   %7.3f s\n", o
  printf "  bare loop, same calls (Wine msi.dll) %7.3f s\n", b
  printf "  msibuild -i (msitools, native)       %7.3f s\n", m
  printf "AddBinaryFilesToMsi / bare loop: %.2f (goal <= 1.2)\n", o / b
  printf "AddBinaryFilesToMsi / msibuild:  %.2f (report only)\n", o / m
}'
