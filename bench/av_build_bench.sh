#!/usr/bin/env bash
# Benchmark of an antivirus EXE build: the program's own time (working folder, server-info
# record, payload copies, settings, 7-Zip written out, the move, the clean-up) against the time
# of its children (7-Zip and the packer, start-up included), in one build on a stand-in server
# whose desktop component is an incompressible file of PAYLOAD_MIB MiB. Prints both and the
# program's share of the whole build. Then the cost of the console's progress reading: the best
# of two builds with it against the best of two without, taking turns, and whether the two
# setups' archives list the same files with the same CRCs.
# Usage: [BENCH_TREE=BUILD_TREE] bash bench/av_build_bench.sh [PAYLOAD_MIB]   (default 200 MiB; the
# tree: the shipping 32-bit build where the kernel runs 32-bit code, else the 64-bit test build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tree=${BENCH_TREE:-$(bench_default_tree)}
payload_mib=${1:-200}

bench_build "$tree" av_build_bench srvlayout
# On disk: the server layout tool needs the long form of its folder, which Wine cannot give
# under /dev.
work=$(BENCH_BASE=/tmp bench_workdir av_bench 0)
trap 'rm -rf "$work"; bench_stop_wine_server' EXIT
server=$work/server
mkdir -p "$work/out"
wine "$tree/bin/srvlayout.exe" "$(winepath -w "$server")" --register none --built "$(winepath -w "$tree/bin")\\" >/dev/null
head -c $((payload_mib * 1048576)) /dev/urandom >"$server/Web/Build/tmhostsv.exe"

results=$(wine "$tree/bin/av_build_bench.exe" "$(winepath -w "$server")" "$(winepath -w "$server/ClientPackager")" \
  "$(winepath -w "$work/out")" </dev/null | tr -d '\r' | grep -E '^(total_seconds|children_seconds|children|plain_seconds|progress_seconds|progress_updates)=')
# total_seconds, children_seconds, children, plain_seconds, progress_seconds, progress_updates; the
# children's own output is dropped
eval "$results"
# The entries' names, sizes and CRCs, below the archive's own lines.
listing() { 7zz l -slt "$1" | awk '/^----------/ { entries = 1 } entries && /^(Path|Size|CRC) = /'; }
same=no
[ "$(listing "$work/out/plain.exe")" = "$(listing "$work/out/progress.exe")" ] && same=yes
[ -s "$work/out/wsnoav32.exe" ] || { echo "no installer was built" >&2; exit 1; }

awk -v t="$total_seconds" -v c="$children_seconds" -v n="$children" -v mib="$payload_mib" -v tree="$tree" \
  -v size="$(stat -c %s "$work/out/wsnoav32.exe")" 'BEGIN {
  printf "Antivirus EXE build, %d MiB incompressible payload (%s), setup of %.1f MiB\n", mib, tree, size / 1048576
  printf "  whole build                       %8.3f s\n", t
  printf "  children (%d: 7-Zip, packer)       %8.3f s\n", n, c
  printf "  program'\''s own work                %8.3f s\n", t - c
  printf "Program overhead / whole build: %.2f %% (goal <= 3 %%)\n", 100 * (t - c) / t
  printf "Program overhead / children:    %.2f %%\n", 100 * (t - c) / c
}'
awk -v p="$plain_seconds" -v g="$progress_seconds" -v n="$progress_updates" -v same="$same" 'BEGIN {
  printf "  best build without progress       %8.3f s\n", p
  printf "  best build with progress (%d updates) %6.3f s\n", n, g
  printf "Archive listing and CRCs with the progress switch the same: %s\n", same
  printf "Progress reading / build without it: %+.2f %% (goal <= 1 %%)\n", 100 * (g - p) / p
}'
