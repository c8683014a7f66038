#!/usr/bin/env bash
# Benchmark of "create --each-group": GROUPS groups of a flat tree, an antivirus EXE whose desktop
# component is an incompressible file of PAYLOAD_MIB MiB, built by one --each-group run against a
# loop of GROUPS single creates, under the same Wine in one run. Prints the ratio, and each group's
# marginal cost (the run for every group less the run for one, shared among the others) against a
# plain copy of one setup by Wine's cmd (its start left out).
# Usage: [BENCH_TREE=BUILD_TREE] bash bench/bulk_bench.sh [GROUPS PAYLOAD_MIB]   (defaults 20 100;
# the tree: the shipping 32-bit build where the kernel runs 32-bit code, else the 64-bit test build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tree=${BENCH_TREE:-$(bench_default_tree)}
groups=${1:-20}
payload_mib=${2:-100}
[ "$groups" -ge 2 ] || { echo "GROUPS must be at least 2" >&2; exit 1; }

bench_build "$tree" tmrovane_com srvlayout
# On disk: the server layout tool needs the long form of its folder, which Wine cannot give
# under /dev.
work=$(BENCH_BASE=/tmp bench_workdir bulk_bench 0)
key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CNSLSRVC.EXE_10.5'
trap 'wine reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true; rm -rf "$work"; bench_stop_wine_server' EXIT
server=$work/server
{
  printf '1\t0\t{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}\tDefault\r\n'
  for i in $(seq 2 "$groups"); do printf '%d\t0\t{1A2B3C4D-5E6F-4A1B-8C2D-%012d}\tSite %d\r\n' "$i" "$i" "$i"; done
} >"$work/groups.txt"
wine "$tree/bin/srvlayout.exe" "$(winepath -w "$server")" --groups "$(winepath -w "$work/groups.txt")" \
  --built "$(winepath -w "$tree/bin")\\" </dev/null >/dev/null
head -c $((payload_mib * 1048576)) /dev/urandom >"$server/Web/Build/tmhostsv.exe"
com=$server/ClientPackager/tmrovane.com
out=$work/out
mkdir -p "$out/loop" "$out/bulk" "$out/one" "$out/copy"

now() { date +%s.%N; }
create() { wine "$com" create --yes "$@" </dev/null >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }; }

start=$(now)
for guid in $(cut -f3 "$work/groups.txt"); do
  mkdir -p "$out/loop/$guid"
  create --group "$guid" --destination "$(winepath -w "$out/loop/$guid")"
done
loop=$(echo "$(now) - $start" | bc)

start=$(now)
create --each-group --destination "$(winepath -w "$out/bulk")"
bulk=$(echo "$(now) - $start" | bc)
[ "$(find "$out/bulk" -name wsnoav32.exe | wc -l)" = "$groups" ] || { echo "not every group was built" >&2; exit 1; }

start=$(now)
create --each-group --group Default --destination "$(winepath -w "$out/one")"
one=$(echo "$(now) - $start" | bc)

# The plain copy: one cmd script copies the setup over one file until some 200 MiB have been
# copied (so that the start of cmd, measured with an empty script and left out, is small beside
# them), shared among the copies.
setup=$out/one/Default/wsnoav32.exe
copies=$(((200 * 1048576 + $(stat -c %s "$setup") - 1) / $(stat -c %s "$setup")))
[ "$copies" -ge 5 ] || copies=5
line="copy /b /y $(winepath -w "$setup") $(winepath -w "$out/copy")\\setup.exe >nul"
for _ in $(seq "$copies"); do printf '%s\r\n' "$line"; done >"$work/copies.cmd"
printf 'exit\r\n' >"$work/bare.cmd"
start=$(now)
wine cmd /c "$(winepath -w "$work/bare.cmd")" </dev/null >/dev/null
bare=$(echo "$(now) - $start" | bc)
start=$(now)
wine cmd /c "$(winepath -w "$work/copies.cmd")" </dev/null >/dev/null
copy=$(echo "($(now) - $start - $bare) / $copies" | bc -l)
cmp -s "$setup" "$out/copy/setup.exe" || { echo "the plain copy differs" >&2; exit 1; }

awk -v n="$groups" -v mib="$payload_mib" -v tree="$tree" -v loop="$loop" -v bulk="$bulk" -v one="$one" \
  -v copy="$copy" -v size="$(stat -c %s "$setup")" 'BEGIN {
  marginal = (bulk - one) / (n - 1)
  printf "%d groups, antivirus EXE, %d MiB incompressible payload (%s), setup of %.1f MiB\n", n, mib, tree, size / 1048576
  printf "  loop of %d single creates       %8.3f s\n", n, loop
  printf "  --each-group, %d groups          %8.3f s\n", n, bulk
  printf "  --each-group, one group          %8.3f s\n", one
  printf "  marginal cost of one group       %8.3f s\n", marginal
  printf "  plain copy of one setup          %8.3f s\n", copy
  printf "Bulk / loop of single creates: %.3f (aim <= 0.2)\n", bulk / loop
  printf "Marginal cost per group / plain copy: %.2f (aim <= 3)\n", marginal / copy
}'
