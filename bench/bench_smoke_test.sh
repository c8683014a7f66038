#!/usr/bin/env bash
# Runs every benchmark once with tiny sizes on one build tree and checks that each one says
# which tree it measured, prints its ratio lines and leaves the Wine server running (inside the
# suite that server is the suite's). The figures themselves are not checked: this only keeps the
# benchmarks from breaking unseen.
# Usage: bench_smoke_test.sh BUILD_TREE [BENCHMARK...]   (every benchmark when none is named)
set -euo pipefail
bench=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export BENCH_TREE=$1
shift
only=" $* "
source "$bench/../scripts/wine-env.sh"

start_wine_server
own_server=$WINE_SERVER_STARTED
trap '[ "$own_server" = 0 ] || stop_wine_server' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# name, arguments (tiny sizes, one round), then the lines its output must hold.
cases=(
  "tar_bench.sh|2 1 20 1|^Throughput CreateTarFile / GNU tar: +[0-9.]+$|^Throughput CreateTarFile / plain copy: +[0-9.]+$"
  "tar_build_bench.sh|1 1|^Throughput build / plain copy: +[0-9.]+|^Throughput build / GNU tar: +[0-9.]+$"
  "msi_bench.sh|3 16 1|^AddBinaryFilesToMsi / bare loop: [0-9.]+|^AddBinaryFilesToMsi / msibuild: +[0-9.]+"
  "av_build_bench.sh|2|^Program overhead / whole build: [0-9.]+ %|^Program overhead / children: +[0-9.]+ %$|^Archive listing and CRCs with the progress switch the same: yes$|^Progress reading / build without it: [-+][0-9.]+ %"
  "signing_bench.sh|2 1|^Signing \+ final SHA-256 / one SHA-256 pass: [0-9.]+|^Passes over the file, signing \+ final SHA-256: "
  "bulk_bench.sh|3 1|^Bulk / loop of single creates: [0-9.]+|^Marginal cost per group / plain copy: [0-9.]+"
  "sevenzip_bench.sh|2 2 1|^Wall time ia32 / x64: [0-9.]+ +processor time ia32 / x64: [0-9.]+$"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r -a fields <<<"$entry"
  name=${fields[0]}
  [ "$only" = "  " ] || [[ $only == *" $name "* ]] || continue
  read -r -a arguments <<<"${fields[1]}"
  echo "== $name ${arguments[*]}"
  status=0
  output=$(bash "$bench/$name" "${arguments[@]}" </dev/null 2>&1) || status=$?
  echo "$output"
  [ $status = 0 ] || { fail "$name exited with $status"; continue; }
  if [ "$name" != sevenzip_bench.sh ]; then
    grep -qxF "Build tree measured: $BENCH_TREE" <<<"$output" || fail "$name does not name the tree $BENCH_TREE"
  fi
  for pattern in "${fields[@]:2}"; do
    grep -qE "$pattern" <<<"$output" || fail "$name printed no line matching '$pattern'"
  done
  # Still running: a second start finds it (status 2).
  server_status=0
  wineserver -p 2>/dev/null || server_status=$?
  [ $server_status = 2 ] || fail "$name stopped the Wine server"
done

[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "every benchmark ran"
