#!/usr/bin/env bash
# "tmrovane create --each-group" end to end on a registered stand-in server whose group tree has
# names that are no folder names as they stand. One row per kind (an antivirus EXE and an MSI with
# their manifests, a Minimal EXE of a subtree with its console lines): every installer lies in its
# group's folder, is read back by 7zz or msiinfo and by inspect, carries its own group's GUID and
# no other, and matches its manifest entry; a signed run's installers pass osslsigncode. Then the
# faults: the packer failing for one group, Ctrl+C while the fourth group is packed, a group's
# folder blocked by a file, the drive filling part-way; each keeps the other groups' installers,
# leaves the earlier installers of the groups it did not build byte-identical, and leaves nothing
# temporary behind. Refusals: Mac and Linux builds.
# Usage: each_group_test.sh BIN_DIR (tmrovane.com, srvlayout.exe and the built server)
set -euo pipefail
bin=$1
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root_dir/scripts/wine-env.sh"
source "$root_dir/tests/support/test_certificates.sh"

key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CNSLSRVC.EXE_10.5'
work=$(mktemp -d /tmp/each_group_test.XXXXXX)
mnt=
letter=
cleanup() {
  wine reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
  [ -z "$letter" ] || rm -f "$WINEPREFIX/dosdevices/$letter:"
  if [ -n "$mnt" ]; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || true
    rmdir "$mnt"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
win() { winepath -w "$1"; }

server="$work/Server (x86)"
program="$server/ClientPackager"
wine "$bin/srvlayout.exe" "$(win "$server")" --group-tree folder-names --built "$(win "$bin")\\" \
  </dev/null >/dev/null
com="$program/tmrovane.com"
packer="$server/Tools/clPacker"

run() {  # run ARGS...: sets status, stdout in $stdout, stderr in $stderr
  status=0
  wine "$com" "$@" </dev/null >"$work/stdout" 2>"$work/stderr" || status=$?
  stdout=$(tr -d '\r' <"$work/stdout")
  stderr=$(tr -d '\r' <"$work/stderr")
}

g() { printf '{1A2B3C4D-5E6F-4A1B-8C2D-%012d}' "$1"; }
dflt='{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}'
# Every group of the tree: path | GUID ("-": none) | folder below the destination.
tree=(
  "Default|$dflt|Default"
  "Zürich office|$(g 40)|Zürich office"
  "Zürich office\\Ingeniería|$(g 41)|Zürich office\\Ingeniería"
  "Zürich office\\Ingeniería\\Build agents|$(g 42)|Zürich office\\Ingeniería\\Build agents"
  "Sales\\East|$(g 43)|Sales_East"
  "Lab: <west>?|$(g 44)|Lab_ _west__"
  "CON|$(g 45)|_CON"
  "Kiosk.|$(g 46)|Kiosk $(g 46)"
  "kiosk|$(g 47)|kiosk $(g 47)"
  "Unmanaged|-|Unmanaged"
)
printf '%s\n' "${tree[@]}" >"$work/tree"

# check_installers NAME DEST_DIR OUTPUT [PATH...]: each group named (all with a GUID when none
# are) has its installer in its folder, read back by 7zz or msiinfo and by inspect with its own
# GUID alone.
check_installers() {
  local name=$1 dir=$2 output=$3
  shift 3
  local row path guid folder file x settings
  for row in "${tree[@]}"; do
    IFS='|' read -r path guid folder <<<"$row"
    [ "$guid" != - ] || continue
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qxF -- "$path"; then continue; fi
    file="$dir/${folder//\\//}/$output"
    [ -s "$file" ] || { fail "$name: no installer for $path at $file"; continue; }
    x="$work/x"
    rm -rf "$x" && mkdir -p "$x"
    case $output in
      *.msi)
        (cd "$x" && msiinfo export "$file" Binary >/dev/null) || { fail "$name: msiinfo fails on $path's MSI"; continue; }
        [ "$(find "$x/Binary" -name 'Binary.wsnode.ini*' | wc -l)" = 1 ] || fail "$name: $path's MSI: wsnode.ini rows"
        mv "$x/Binary/Binary.wsnode.ini" "$x/wsnode.ini" ;;
      *)
        7zz t "$file" >/dev/null || fail "$name: 7zz t fails on $path's installer"
        [ "$(7zz l "$file" | grep -c ' wsnode.ini$')" = 1 ] || fail "$name: $path's installer: wsnode.ini entries"
        7zz e -y -o"$x" "$file" wsnode.ini >/dev/null || { fail "$name: no wsnode.ini in $path's installer"; continue; } ;;
    esac
    settings=$(iconv -f UTF-16 -t UTF-8 "$x/wsnode.ini" | tr -d '\r')
    [ "$(grep -c '^preset_group_id=' <<<"$settings")" = 1 ] && grep -qxF "preset_group_id=$guid" <<<"$settings" ||
      fail "$name: $path's installer carries another group: $(grep preset <<<"$settings")"
    run inspect "$(win "$file")"
    [ "$status" = 0 ] || { fail "$name: inspect of $path's installer: exit code $status: $stderr"; continue; }
    grep -qxF "group: $guid $path" <<<"$stdout" || fail "$name: inspect's group for $path: $(grep group <<<"$stdout")"
    grep -qx "sha256: $(sha256sum "$file" | cut -d' ' -f1)" <<<"$stdout" || fail "$name: inspect's SHA-256 of $path"
  done
}

# check_clean NAME DEST_DIR: nothing temporary left by the run.
check_clean() {
  local left
  left=$(find "$2" -name '*.tmp'; find "$packer" -maxdepth 2 \( -name '*.7z' -o -name Build -o -name 'ws*.exe' \
    -o -name 'rmtsetup.exe' -o -name 'pack.fail*' \); find "$program/clPacker" -name '7z.*' 2>/dev/null || true)
  [ -z "$left" ] || fail "$1: left behind: $left"
}

# check_manifest NAME DEST_DIR WANT [WINDOWS_DEST]: the manifest on stdout lists every group of the
# tree in order with its GUID and folder; WANT maps paths to outcomes ("*": every other group with
# a GUID); a built group's installer (below WINDOWS_DEST, DEST_DIR's Windows name unless given)
# and SHA-256 are the file's.
check_manifest() {
  python3 - "$1" "${4:-$(win "$2")}" "$2" "$3" "$work/tree" "$stdout" <<'PY' || fail "$1: the manifest differs"
import hashlib, json, os, sys
name, windest, dest, want, treefile, out = sys.argv[1:]
m = json.loads(out)
want = dict(w.split("=", 1) for w in want.split(";"))
rows = [l.rstrip("\n").split("|") for l in open(treefile, encoding="utf-8")]
groups = m["groups"]
assert [g["path"] for g in groups] == [r[0] for r in rows], [g["path"] for g in groups]
for g, (path, guid, folder) in zip(groups, rows):
    expected = "skipped" if guid == "-" else want.get(path, want.get("*"))
    assert g["outcome"] == expected, (path, g["outcome"], expected)
    assert g["guid"] == (None if guid == "-" else guid), (path, g["guid"])
    assert g["folder"] == folder, (path, g["folder"])
    if expected == "built":
        assert g["installer"].startswith(windest.rstrip("\\") + "\\" + folder + "\\"), (path, g["installer"])
        local = os.path.join(dest, folder.replace("\\", "/"), g["installer"].rsplit("\\", 1)[1])
        assert g["sha256"] == hashlib.sha256(open(local, "rb").read()).hexdigest(), (path, "sha256")
    else:
        assert g["installer"] is None and g["sha256"] is None, (path, g["installer"])
    if expected == "failed":
        assert g["messageId"] is not None, (path, "no message ID")
PY
}

# --- An antivirus EXE for the whole tree, with the manifest.
echo "== antivirus EXE, whole tree, --json"
out="$work/av"
mkdir -p "$out"
run create --json --each-group --destination "$(win "$out")" --yes
[ "$status" = 0 ] || fail "av: exit code $status: $stderr"
python3 -c 'import json, sys; m = json.loads(sys.argv[1]); assert m["outcome"] == "built" and m["kind"] == "WinExeAv"' \
  "$stdout" || fail "av: manifest header: $stdout"
check_manifest av "$out" '*=built'
check_installers av "$out" wsnoav32.exe
check_clean av "$out"

# --- A 64-bit MSI for the whole tree, with the manifest.
echo "== MSI, whole tree, --json"
out="$work/msi"
mkdir -p "$out"
run create --json --each-group --setup msi64 --destination "$(win "$out")"
[ "$status" = 0 ] || fail "msi: exit code $status: $stderr"
check_manifest msi "$out" '*=built'
check_installers msi "$out" wsnode64.msi
check_clean msi "$out"

# --- A Minimal EXE for one subtree, reported line by line.
echo "== Minimal EXE, one subtree, console lines"
out="$work/minimal"
mkdir -p "$out"
run create --package minimal --each-group --group 'Zürich office' --destination "$(win "$out")"
[ "$status" = 0 ] || fail "minimal: exit code $status: $stderr"
[ "$(grep -E '^[0-9]+/[0-9]+ ' <<<"$stderr")" = "1/3 Zürich office built
2/3 Zürich office\\Ingeniería built
3/3 Zürich office\\Ingeniería\\Build agents built" ] || fail "minimal: the group lines: $stderr"
expected=""
for f in "Zürich office" "Zürich office\\Ingeniería" "Zürich office\\Ingeniería\\Build agents"; do
  expected+="$(win "$out")\\$f\\rmtsetup.exe"$'\n'
done
[ "$stdout"$'\n' = "$expected" ] || fail "minimal: standard output: $stdout"
check_installers minimal "$out" rmtsetup.exe "Zürich office" "Zürich office\\Ingeniería" \
  "Zürich office\\Ingeniería\\Build agents"
[ "$(find "$out" -type f | wc -l)" = 3 ] || fail "minimal: installers outside the subtree: $(find "$out" -type f)"
check_clean minimal "$out"

# --- Every installer of a run signed.
echo "== signed Minimal EXE, one subtree"
out="$work/signed"
mkdir -p "$out" "$work/certs"
(cd "$work/certs" && make_test_certificates)
export EACH_PFX_PW=secret
run create --package minimal --each-group --group 'Zürich office' --destination "$(win "$out")" \
  --sign-pfx "$(win "$work/certs")\\signer.pfx" --sign-pfx-password-env EACH_PFX_PW
[ "$status" = 0 ] || fail "signed: exit code $status: $stderr"
[ "$(find "$out" -name rmtsetup.exe | wc -l)" = 3 ] || fail "signed: not three installers: $(find "$out" -type f)"
while IFS= read -r file; do
  osslsigncode verify -CAfile "$work/certs/root.pem" -in "$file" >"$work/verify.out" 2>&1 ||
    fail "signed: osslsigncode rejects $file: $(tail -3 "$work/verify.out")"
done < <(find "$out" -name rmtsetup.exe)
check_installers signed "$out" rmtsetup.exe "Zürich office" "Zürich office\\Ingeniería" \
  "Zürich office\\Ingeniería\\Build agents"
check_clean signed "$out"

# --- Faults, each after a first run that left an installer for every group.
out="$work/faults"
mkdir -p "$out"
run create --json --each-group --antivirus no --destination "$(win "$out")"
[ "$status" = 0 ] || fail "faults: the first run: exit code $status: $stderr"
snapshot() { (cd "$out" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$work/$1"; }

echo "== the packer fails for the third group"
snapshot before
echo 2 >"$packer/pack.fail-after"
run create --json --each-group --antivirus no --destination "$(win "$out")"
[ "$status" = 5 ] || fail "packer: exit code $status, not 5"
grep -qxF "Packing the setup failed: the packer ended with exit code 5: pack: failing as pack.fail asks" <<<"$stderr" ||
  fail "packer: the packer's failure is not explained: $stderr"
check_manifest packer "$out" '*=built;Zürich office\Ingeniería=failed'
snapshot after
[ "$(grep -F 'Ingeniería/wsnode32.exe' "$work/before")" = "$(grep -F 'Ingeniería/wsnode32.exe' "$work/after")" ] ||
  fail "packer: the failed group's earlier installer changed"
check_installers packer "$out" wsnode32.exe
check_clean packer "$out"

echo "== Ctrl+C while the fourth group is packed"
snapshot before
echo 3 >"$packer/pack.hold-after"
status=0
wine "$com" create --json --each-group --antivirus no --destination "$(win "$out")" </dev/null \
  >"$work/stdout" 2>"$work/stderr" &
pid=$!
for _ in $(seq 1200); do [ -e "$packer/pack.held" ] || ! kill -0 $pid 2>/dev/null || sleep 0.1; done
if [ -e "$packer/pack.held" ]; then
  kill -INT $pid
  # The handler has run once the console says so; then the packer may finish the group.
  for _ in $(seq 600); do grep -q "Ctrl+C" "$work/stderr" && break; sleep 0.1; done
  rm -f "$packer/pack.held"
else
  fail "ctrl-c: the fourth group's packer never held"
fi
wait $pid || status=$?
stdout=$(tr -d '\r' <"$work/stdout")
stderr=$(tr -d '\r' <"$work/stderr")
[ "$status" = 5 ] || fail "ctrl-c: exit code $status, not 5: $stderr"
python3 -c 'import json, sys; m = json.loads(sys.argv[1]); assert m["stopped"] and m["outcome"] == "failed", m' "$stdout" ||
  fail "ctrl-c: the manifest does not say it stopped"
check_manifest ctrl-c "$out" 'Default=built;Zürich office=built;Zürich office\Ingeniería=built;Zürich office\Ingeniería\Build agents=built;*=not reached'
snapshot after
for row in "${tree[@]:4}"; do
  IFS='|' read -r path guid folder <<<"$row"
  [ "$guid" != - ] || continue
  [ "$(grep -F "./${folder//\\//}/wsnode32.exe" "$work/before")" = "$(grep -F "./${folder//\\//}/wsnode32.exe" "$work/after")" ] ||
    fail "ctrl-c: $path's earlier installer changed"
done
check_installers ctrl-c "$out" wsnode32.exe
check_clean ctrl-c "$out"
[ ! -e "$packer/pack.hold-after" ] || fail "ctrl-c: the hold switch remains"

echo "== a group's folder is blocked by a file"
rm -rf "$out/Sales_East"
echo blocker >"$out/Sales_East"
run create --json --each-group --antivirus no --destination "$(win "$out")"
[ "$status" = 5 ] || fail "blocked: exit code $status, not 5"
check_manifest blocked "$out" '*=built;Sales\East=failed'
python3 -c 'import json, sys
g = [g for g in json.loads(sys.argv[1])["groups"] if g["path"] == "Sales\\East"][0]
assert g["messageId"] == 3017, g' "$stdout" || fail "blocked: the failed group's message"
[ "$(cat "$out/Sales_East")" = blocker ] || fail "blocked: the blocking file changed"
check_installers blocked "$out" wsnode32.exe "Default" "Kiosk." "kiosk" "CON"
check_clean blocked "$out"

echo "== the drive fills part-way"
mnt=$(mktemp -d /tmp/each_group_drive.XXXXXX)
letter=
if mount -t tmpfs -o size=40m tmpfs "$mnt" 2>/dev/null; then
  for l in t u v w x y; do
    if [ ! -e "$WINEPREFIX/dosdevices/$l:" ]; then letter=$l; break; fi
  done
  if [ -n "$letter" ]; then
    ln -s "$mnt" "$WINEPREFIX/dosdevices/$letter:"
    # Each agent setup takes about 12 MiB: three fit beside the earlier installer of a later group.
    head -c $((12 * 1048576)) /dev/urandom >"$server/Web/Build/NODESETP.EXE"
    mkdir -p "$mnt/_CON" && echo earlier >"$mnt/_CON/wsnode32.exe"
    run create --json --each-group --antivirus no --destination "${letter^^}:\\"
    [ "$status" = 5 ] || fail "full drive: exit code $status, not 5: $stderr"
    check_manifest "full drive" "$mnt" 'Default=built;Zürich office=built;Zürich office\Ingeniería=built;*=failed' \
      "${letter^^}:\\"
    [ "$(cat "$mnt/_CON/wsnode32.exe")" = earlier ] || fail "full drive: an earlier installer changed"
    check_installers "full drive" "$mnt" wsnode32.exe Default "Zürich office" "Zürich office\\Ingeniería"
    check_clean "full drive" "$mnt"
  else
    fail "full drive: no free drive letter"
  fi
else
  echo "cannot mount a tmpfs here (not root?): row skipped"
fi

# --- Refused before anything is built.
for row in "mac|--platform mac" "linux|--platform linux"; do
  IFS='|' read -r name arguments <<<"$row"
  echo "== refused: $name"
  read -r -a args <<<"$arguments"
  run create --each-group "${args[@]}"
  [ "$status" = 2 ] || fail "refused $name: exit code $status, not 2"
  grep -q -- "--each-group is not offered" <<<"$stderr" || fail "refused $name: $stderr"
done

[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all rows passed"
