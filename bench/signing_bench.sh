#!/usr/bin/env bash
# Benchmark of signing: a setup of MIB MiB (the stand-in server's SFX module followed by random
# data, as the packer lays out a setup) signed with a code-signing certificate from a PFX file and
# then hashed, as a signed build does, against one BCrypt SHA-256 pass over the same file, under
# the same Wine in one run. Prints the ratio and the passes over the file that signing and the
# final hash make. Best of ROUNDS runs each.
# Usage: [BENCH_TREE=BUILD_TREE] bash bench/signing_bench.sh [MIB ROUNDS]   (defaults 200 3; the
# tree: the shipping 32-bit build where the kernel runs 32-bit code, else the 64-bit test build)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tree=${BENCH_TREE:-$(bench_default_tree)}
mib=${1:-200}
rounds=${2:-3}

bench_build "$tree" signing_bench server_data_files
work=$(bench_workdir signing_bench $((2 * mib + 16)))
trap 'rm -rf "$work"; bench_stop_wine_server' EXIT
cd "$work"
openssl req -x509 -new -newkey rsa:2048 -nodes -keyout signer.key -out signer.pem -days 2 \
  -subj "/CN=Signing Benchmark" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
openssl pkcs12 -export -inkey signer.key -in signer.pem -out signer.pfx -passout pass:bench >/dev/null 2>&1
{
  cat "$tree/bin/serverfiles/7z.sfx"
  head -c $((mib * 1024 * 1024)) /dev/urandom
} >setup.exe

run() {  # run ROUNDS: the benchmark's key=value lines
  SIGNING_BENCH_PASSWORD=bench wine "$tree/bin/signing_bench.exe" "$(winepath -w "$work/setup.exe")" \
    "$(winepath -w "$work/signer.pfx")" SIGNING_BENCH_PASSWORD "$1" </dev/null | tr -d '\r'
}
eval "$(run "$rounds")"  # bytes, hash_seconds, sign_seconds, sign_and_hash_seconds
# The passes: one more round under strace, its reads of the signed copy summed (not timed).
passes=
if strace -f -qq -s 0 -y -e trace=read,pread64,readv,preadv -o "$work/reads" true 2>/dev/null; then
  strace -f -qq -s 0 -y -e trace=read,pread64,readv,preadv -o "$work/reads" \
    env SIGNING_BENCH_PASSWORD=bench wine "$tree/bin/signing_bench.exe" "$(winepath -w "$work/setup.exe")" \
    "$(winepath -w "$work/signer.pfx")" SIGNING_BENCH_PASSWORD 1 </dev/null >/dev/null &&
    passes=$(awk -v n="$bytes" '/setup\.exe\.signed>/ && match($0, / = [0-9]+$/) {
      s += substr($0, RSTART + 3) } END { printf "%.2f", s / n }' "$work/reads")
fi

awk -v bytes="$bytes" -v h="$hash_seconds" -v s="$sign_seconds" -v t="$sign_and_hash_seconds" -v p="$passes" \
  -v tree="$tree" -v rounds="$rounds" 'BEGIN {
  printf "Signed a setup of %.1f MiB (%s, best of %d runs each)\n", bytes / 1048576, tree, rounds
  printf "  one BCrypt SHA-256 pass       %7.3f s\n", h
  printf "  signing                       %7.3f s\n", s
  printf "  signing + final SHA-256       %7.3f s\n", t
  printf "Signing + final SHA-256 / one SHA-256 pass: %.2f (goal <= 2.2)\n", t / h
  printf "Passes over the file, signing + final SHA-256: %s\n", p == "" ? "not counted (no strace)" : p
}'
