# Sourced by the benchmarks: the Wine environment and the steps every benchmark starts with.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh"

# The build tree a benchmark measures unless told another: the shipping 32-bit build where the
# kernel runs 32-bit code, the 64-bit test build where 32-bit code is only emulated (there the
# 32-bit programs' own time would measure the emulator).
bench_default_tree() {
  if kernel_runs_x86; then
    echo "$BUILD_DIR"
  else
    echo "$BUILD_DIR/x64"
  fi
}

# bench_build TREE TARGET...: builds the benchmark's targets in a configured build tree, makes
# sure of the Wine prefix and starts its server unless one runs already (the suite's, when the
# suite runs the benchmark).
bench_build() {
  local tree=$1
  shift
  [ -f "$tree/build.ninja" ] || { echo "Build first: bash scripts/test.sh" >&2; exit 1; }
  echo "Build tree measured: $tree"
  cmake --build "$tree" --target "$@" >/dev/null
  ensure_wine_prefix
  start_wine_server
}

# Stops the Wine server if bench_build started it.
bench_stop_wine_server() {
  [ "${WINE_SERVER_STARTED:-0}" = 0 ] || stop_wine_server
}

# bench_workdir NAME NEEDED_MIB: creates a fresh folder for the benchmark's files and prints its
# path. It is in memory (/dev/shm) when that has NEEDED_MIB free, so that the disk's write-back
# does not decide the figures; BENCH_BASE chooses the parent folder instead.
bench_workdir() {
  local base=${BENCH_BASE:-/tmp}
  if [ -z "${BENCH_BASE:-}" ] && [ -w /dev/shm ] &&
    [ "$(df -Pk /dev/shm | awk 'NR == 2 {print $4}')" -gt $(($2 * 1024)) ]; then
    base=/dev/shm
  fi
  mktemp -d "$base/$1.XXXXXX"
}
