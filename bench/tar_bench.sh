#!/usr/bin/env bash
# Benchmark of the TAR writer: archives one folder of a few large files and many small ones with
# CreateTarFile (under Wine) and with GNU tar (native), and prints both throughputs and their
# ratio, with a plain copy of the same bytes under Wine (the writer's limit) and natively.
# Usage: [BENCH_TREE=BUILD_TREE] bash bench/tar_bench.sh [LARGE_FILES LARGE_MB SMALL_FILES ROUNDS]
# (defaults 4 64 2000 5; the tree: the shipping 32-bit build where the kernel runs 32-bit code,
# else the 64-bit test build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
large_files=${1:-4}
large_mb=${2:-64}
small_files=${3:-2000}
rounds=${4:-5}
tree=${BENCH_TREE:-$(bench_default_tree)}

bench_build "$tree" tar_bench
work=$(bench_workdir tar_bench $((4 * (large_files * large_mb + 100))))
trap 'rm -rf "$work"; bench_stop_wine_server' EXIT
data=$work/data
mkdir -p "$data" "$work/out"
for i in $(seq 1 "$large_files"); do
  head -c "$((large_mb * 1048576))" /dev/urandom >"$data/large$i.bin"
done
for i in $(seq 1 "$small_files"); do
  head -c "$((512 + (i * 7919) % 16384))" /dev/urandom >"$data/small$i.dat"
done

now() { date +%s.%N; }
best_of() {  # best_of COMMAND...: the least wall time of $rounds runs, in seconds
  local best=1e30 start end
  for _ in $(seq 1 "$rounds"); do
    rm -f "$work/gnu.tar" "$work/cat.bin"
    start=$(now)
    "$@"
    end=$(now)
    best=$(awk -v a="$best" -v b="$(awk -v s="$start" -v e="$end" 'BEGIN {print e - s}')" \
      'BEGIN {print (b < a) ? b : a}')
  done
  echo "$best"
}
gnu_tar() { tar -cf "$work/gnu.tar" -C "$work" data; }
native_copy() { cat "$data"/* >"$work/cat.bin"; }

gnu_seconds=$(best_of gnu_tar)
cat_seconds=$(best_of native_copy)
results=$(wine "$tree/bin/tar_bench.exe" "Z:${data//\//\\}" "Z:${work//\//\\}\\out" "$rounds" </dev/null |
  tr -d '\r')
eval "$results"  # files, bytes, writer_seconds, copy_seconds

awk -v files="$files" -v bytes="$bytes" -v w="$writer_seconds" -v c="$copy_seconds" -v g="$gnu_seconds" \
  -v n="$cat_seconds" -v where="$work" -v rounds="$rounds" 'BEGIN {
  mb = bytes / 1048576
  printf "Archived %d files, %.1f MiB in %s (best of %d runs each)\n", files, mb, where, rounds
  printf "  CreateTarFile (Wine)      %7.3f s  %8.1f MiB/s\n", w, mb / w
  printf "  GNU tar (native)          %7.3f s  %8.1f MiB/s\n", g, mb / g
  printf "  plain copy (Wine, limit)  %7.3f s  %8.1f MiB/s\n", c, mb / c
  printf "  plain copy (native, cat)  %7.3f s  %8.1f MiB/s\n", n, mb / n
  printf "Throughput CreateTarFile / GNU tar:    %.2f\n", g / w
  printf "Throughput CreateTarFile / plain copy: %.2f\n", c / w
}'
