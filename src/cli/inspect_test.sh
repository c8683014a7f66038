#!/usr/bin/env bash
# "tmrovane inspect" on installers the program built on a registered stand-in server, then
# damaged by damaged_installers.py: one table per reader (TAR headers and kept files, an ANSI
# settings file, MSI streams and tables, the EXE's archive). Each row must end within its time
# limit with exit code 6 and a message naming the problem, or with a report naming it, and leave
# no temporary folder behind. Last, a Mac TAR of about 600 MiB (sparse disk images): inspect
# lists both images with their sizes, and its peak resident memory stays within a few MiB of
# what it takes for a small TAR. Usage: inspect_test.sh BIN_DIR (tmrovane.com, srvlayout.exe and
# the built server, all 64-bit)
set -euo pipefail
bin=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env.sh"
source "$here/../../tests/support/console_server.sh"
console_work inspect_test
trap console_cleanup EXIT

server="$work/Server"
web="$server/Web/Build"
console_layout "$bin" "$server"
leftovers() { find "$WINEPREFIX/drive_c/users" -maxdepth 5 -name 'tmrovane-inspect-*' 2>/dev/null; }
[ -z "$(leftovers)" ] || fail "a 7-Zip folder of an earlier inspect is left: $(leftovers)"

# inspect FILE [--json]: exit code in $status, standard output and error in $stdout and $stderr;
# a run over 60 s is stopped and counts as a hang.
run_inspect() {
  status=0
  timeout 60 wine "$com" inspect "$@" </dev/null >"$work/stdout" 2>"$work/stderr" || status=$?
  stdout=$(tr -d '\r' <"$work/stdout")
  stderr=$(tr -d '\r' <"$work/stderr")
}
create() {  # create ARGS...: builds one installer, printing its Unix path
  local path
  path=$(wine "$com" create "$@" </dev/null 2>"$work/create.err" | tr -d '\r') ||
    { echo "FAIL: create $*: $(cat "$work/create.err")" >&2; exit 1; }
  winepath -u "$path"
}

exe=$(create --antivirus no --destination "$(win "$work")")
msi=$(create --setup msi32 --destination "$(win "$work")")
mac=$(create --platform mac --antivirus no --yes)
cp "$mac" "$work/small.tar"
linux=$(create --platform linux --setup 64 --yes)
for installer in "$exe" "$msi" "$work/small.tar" "$linux"; do
  run_inspect "$(win "$installer")"
  [ "$status" = 0 ] || fail "inspect of the undamaged $(basename "$installer"): exit code $status: $stderr"
done

mkdir -p "$work/damaged"
for table in "tar $work/small.tar" "settings $linux" "msi $msi" "exe $exe"; do
  read -r kind installer <<<"$table"
  while IFS=$'\t' read -r name file code want; do
    echo "== $kind: $name"
    start=$(date +%s)
    run_inspect "$(win "$file")"
    said=${stderr:-$(grep -m1 'problem' <<<"$stdout")}
    echo "   -> $status ${said:0:200}"
    [ $(($(date +%s) - start)) -lt 60 ] || fail "$kind $name: no answer within 60 s"
    [ "$status" = "$code" ] || fail "$kind $name: exit code $status, expected $code: $stderr"
    if [ "$code" = 6 ]; then
      [ -z "$stdout" ] || fail "$kind $name: a partial report: $stdout"
      grep -q '^tmrovane inspect: ' <<<"$stderr" || fail "$kind $name: no message: $stderr"
      grep -qF -- "$want" <<<"$stderr" || fail "$kind $name: the message lacks '$want': $stderr"
    else
      grep -qF -- "$want" <<<"$stdout" || fail "$kind $name: the report lacks '$want': $stdout"
    fi
    [ -z "$(leftovers)" ] || fail "$kind $name: inspect left its 7-Zip folder behind"
    rm -f "$file"
  done < <(python3 "$here/damaged_installers.py" "$kind" "$installer" "$work/damaged")
done

# The Mac antivirus TAR with two sparse disk images of 300 MiB each.
for image in MWSNODE.DMG MACHOST.DMG; do
  rm -f "$web/$image"
  truncate -s 300M "$web/$image"
done
large=$(create --platform mac --yes)
size=$(stat -c %s "$large")
[ "$size" -gt $((600 * 1024 * 1024)) ] || fail "the Mac TAR is only $size bytes"
# Peak resident memory of inspect (KiB), as the kernel counts it for the Wine process.
peak() {
  python3 -c 'import resource, subprocess, sys
with open(sys.argv[2], "wb") as out:
    code = subprocess.run(["wine", sys.argv[1], "inspect", "--json", sys.argv[3]], stdin=subprocess.DEVNULL,
                          stdout=out, stderr=subprocess.DEVNULL, timeout=300).returncode
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss if code == 0 else -1)' "$com" "$work/report.json" "$1"
}
small_peak=$(peak "$(win "$work/small.tar")")
large_peak=$(peak "$(win "$large")")
python3 -c 'import json, sys
files = {f["name"].rsplit("/", 1)[-1]: f["size"] for f in json.load(open(sys.argv[1]))["files"]}
assert files.get("MWSNODE.DMG") == 300 << 20 and files.get("MACHOST.DMG") == 300 << 20, files' \
  "$work/report.json" || fail "inspect --json of the $size-byte Mac TAR does not list both images"
echo "peak resident memory of inspect: $small_peak KiB on a small TAR, $large_peak KiB on $size bytes"
[ "$small_peak" -gt 0 ] && [ "$large_peak" -gt 0 ] && [ "$large_peak" -lt $((small_peak + 16 * 1024)) ] ||
  fail "inspect's memory grows with the TAR: $small_peak KiB, then $large_peak KiB"

[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all rows passed"
