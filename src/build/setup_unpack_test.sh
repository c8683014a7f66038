#!/usr/bin/env bash
# Builds the agent setup on a stand-in server and runs it under Wine: it unpacks itself whole.
# Its self-extracting module is a 32-bit program, and its process does not end by itself under
# Wine once it has unpacked, so it is ended once every file it holds is there whole: the same
# bytes as 7zz takes out of the same setup.
# Usage: setup_unpack_test.sh BIN_DIR (winbuild_tool.exe, srvlayout.exe and the built server)
set -euo pipefail
bin=$1
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-env.sh"

work=$(mktemp -d /tmp/setup_unpack.XXXXXX)
sfx=
cleanup() {
  [ -z "$sfx" ] || { kill "$sfx" 2>/dev/null; wait "$sfx" 2>/dev/null; } || true
  rm -rf "$work"
}
trap cleanup EXIT
server="$work/Server (x86) Folder"
program="$server/ClientPackager"
out="$work/out"
mkdir -p "$out"
win() { winepath -w "$1"; }

wine "$bin/srvlayout.exe" "$(win "$server")" --register none --built "$(win "$bin")\\" >/dev/null
shown=$(wine "$bin/winbuild_tool.exe" "$(win "$server")" "$(win "$program")" "$(win "$out")" 0 0 0 1 \
  --answers N </dev/null) || { echo "FAIL: the agent setup was not built: $shown"; exit 1; }
setup="$out/wsnode32.exe"
7zz x -y -o"$work/expected" "$setup" >/dev/null || { echo "FAIL: 7zz cannot unpack the agent setup"; exit 1; }

timeout 600 wine "$(win "$setup")" -y -o"$(win "$work/unpacked")" </dev/null >/dev/null 2>&1 &
sfx=$!
whole=no
for _ in $(seq 1 1200); do
  if diff -r "$work/expected" "$work/unpacked" >/dev/null 2>&1; then
    whole=yes
    break
  fi
  kill -0 $sfx 2>/dev/null || break  # ended (or timed out) without unpacking everything
  sleep 0.5
done

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
sorted() { tr ' ' '\n' | { grep -v '^$' || true; } | sort | tr '\n' ' '; }
want=$(echo "build.cnf rpinfo.dat sysprobe.dll uistr.dll verkit.dll wsnode.ini Deploy.exe NODESETP.EXE" | sorted)
unpacked=$({ ls "$work/unpacked" 2>/dev/null || true; } | sorted)
[ "$unpacked" = "$want" ] || fail "the setup unpacked '$unpacked'"
[ $whole = yes ] || fail "the setup's unpacked files differ from its contents"
cmp -s "$work/unpacked/NODESETP.EXE" "$server/Web/Build/NODESETP.EXE" || fail "the unpacked agent setup differs"
cmp -s "$work/unpacked/uistr.dll" "$program/uistr.dll" || fail "the unpacked string library differs"
[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "the setup unpacked itself whole"
