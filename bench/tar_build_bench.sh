#!/usr/bin/env bash
# Benchmark of the Mac antivirus build with two large disk images: lays out a stand-in server
# in memory (/dev/shm when it has room), runs the build under Wine and prints the growth of the
# program's peak working set during the builds, and the build's throughput against a plain copy
# of the same bytes under the same Wine and against GNU tar archiving the same folder natively.
# Usage: [BENCH_TREE=BUILD_TREE] [BENCH_BASE=FOLDER] bash bench/tar_build_bench.sh [IMAGE_MB ROUNDS]
# (defaults 256 MiB, 3 rounds; the tree: the shipping 32-bit build where the kernel runs 32-bit
# code, else the 64-bit test build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
image_mb=${1:-256}
rounds=${2:-3}
tree=${BENCH_TREE:-$(bench_default_tree)}
bench_build "$tree" tar_build_bench srvlayout
work=$(bench_workdir tar_build_bench $((6 * (image_mb + 16))))
# Reached through drive C:, whose root has the free space the build asks for.
link=$WINEPREFIX/drive_c/$(basename "$work")
ln -s "$work" "$link"
trap 'rm -rf "$work" "$link"; bench_stop_wine_server' EXIT
winwork="C:\\$(basename "$work")"
wine "$tree/bin/srvlayout.exe" "$winwork\\Server" --register none --no-program \
  --disk-image-mb "$image_mb" </dev/null >/dev/null
mkdir -p "$work/out"

results=$(wine "$tree/bin/tar_build_bench.exe" "$winwork\\Server\\" "$winwork\\out" "$rounds" \
  </dev/null | tr -d '\r')
eval "$results"  # working_set_before, peak_before, peak_after, bytes, build_seconds, copy_seconds

# GNU tar over a folder of the same files (hard links, so nothing more is copied).
web=$work/Server/Web/Build
mkdir -p "$work/gnu/MCWSNOAV"
for f in wsnode.ini macndef.ini MACHOST.DMG MWSNODE.DMG; do ln "$web/$f" "$work/gnu/MCWSNOAV/$f"; done
best=1e30
for _ in $(seq 1 "$rounds"); do
  rm -f "$work/gnu.tar"
  start=$(date +%s.%N)
  tar -cf "$work/gnu.tar" -C "$work/gnu" MCWSNOAV
  end=$(date +%s.%N)
  best=$(awk -v a="$best" -v s="$start" -v e="$end" 'BEGIN {d = e - s; print (d < a) ? d : a}')
done

awk -v b="$bytes" -v ws="$working_set_before" -v pb="$peak_before" -v pa="$peak_after" -v t="$build_seconds" \
  -v c="$copy_seconds" -v g="$best" -v where="$work" -v rounds="$rounds" -v image_mb="$image_mb" 'BEGIN {
  mib = 1048576; mb = b / mib
  printf "Mac antivirus build, two %d MiB disk images, %.1f MiB archived, in %s (best of %d)\n", image_mb, mb, where, rounds
  printf "  working set before the build  %7.1f MiB (peak so far %.1f MiB)\n", ws / mib, pb / mib
  printf "  peak working set afterwards   %7.1f MiB\n", pa / mib
  printf "  growth during the builds      %7.1f MiB (goal < 16)\n", (pa - ws) / mib
  printf "  build (Wine)                  %7.3f s  %8.1f MiB/s\n", t, mb / t
  printf "  plain copy (Wine)             %7.3f s  %8.1f MiB/s\n", c, mb / c
  printf "  GNU tar (native)              %7.3f s  %8.1f MiB/s\n", g, mb / g
  printf "Throughput build / plain copy:  %.2f (goal >= 0.9)\n", c / t
  printf "Throughput build / GNU tar:     %.2f\n", g / t
}'
