#!/usr/bin/env bash
# Builds every Windows installer kind on a stand-in server whose folder has spaces and
# parentheses, and reads each result back with tools that share no code with the program: 7zz
# lists exactly the payload of the kind, the settings file and server-info record inside are
# checked, msitools read the MSI's Binary rows. Then destinations on a drive of their own (full, with room, read-only) and on a share.
# Usage: windows_installers_test.sh BIN_DIR (winbuild_tool.exe, srvlayout.exe and the built server)
set -euo pipefail
bin=$1
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-env.sh"

work=$(mktemp -d /tmp/wininst.XXXXXX)
mnt=
letter=
unc=
cleanup() {
  [ -n "$letter" ] && rm -f "$WINEPREFIX/dosdevices/$letter:"
  [ -n "$unc" ] && rm -rf "$unc" && rmdir "$WINEPREFIX/dosdevices/unc" 2>/dev/null
  if [ -n "$mnt" ]; then umount "$mnt" 2>/dev/null || umount -l "$mnt"; rmdir "$mnt"; fi
  rm -rf "$work"
}
trap cleanup EXIT
server="$work/Server (x86) Folder"
program="$server/ClientPackager"
out="$work/out dir"
mkdir -p "$out"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
win() { winepath -w "$1"; }

wine "$bin/srvlayout.exe" "$(win "$server")" --register none --built "$(win "$bin")\\" >/dev/null

common="build.cnf rpinfo.dat sysprobe.dll uistr.dll verkit.dll wsnode.ini"
# name package platform setup antivirus answers output files-besides-the-common-ones
cases=(
  "av32 0 0 0 0 YN wsnoav32.exe Deploy.exe NODESETP.EXE nodedef.ini purge.exe tmhostsv.exe"
  "av64 0 0 1 0 YN wsnoav64.exe Deploy.exe NDSETP64.EXE nodedef.ini purge.exe tmhost64.exe"
  "agent32 0 0 0 1 N wsnode32.exe Deploy.exe NODESETP.EXE"
  "agent64 0 0 1 1 N wsnode64.exe Deploy.exe NDSETP64.EXE"
  "minimal 1 1 3 0 N rmtsetup.exe Deploy.exe Microsoft.VC90.CRT.manifest msvcr90.dll netkit.dll regshim.dll"
  "msi32 0 0 2 0 - wsnode32.msi NODESETP.EXE afterins.exe instctl.dll nodehelp.dll TemplateBanner"
  "msi64 0 0 3 1 - wsnode64.msi NDSETP64.EXE afterins.exe instctl.dll nodehelp.dll TemplateBanner"
)
# Pack size parameter the packer must have received: twice the desktop component's megabytes + 15.
declare -A pack_size=([av32]=21 [av64]=23)

sorted() { tr ' ' '\n' | { grep -v '^$' || true; } | sort | tr '\n' ' '; }

for entry in "${cases[@]}"; do
  read -r name package platform setup antivirus answers output files <<<"$entry"
  expected=$(echo "$common $files" | sorted)
  echo "== $name: $output"
  # What an interrupted earlier run left in the working folder never reaches the installer.
  mkdir -p "$server/Tools/clPacker/Build/stale"
  echo stale >"$server/Tools/clPacker/Build/stale.txt"
  echo stale >"$server/Tools/clPacker/Build/stale/old.txt"
  shown=$(wine "$bin/winbuild_tool.exe" "$(win "$server")" "$(win "$program")" "$(win "$out")" \
    "$package" "$platform" "$setup" "$antivirus" --ip 10.20.30.40 --answers "$answers" </dev/null) ||
    { fail "$name: the build failed: $shown"; continue; }
  grep -q "shown: $output has been created successfully." <<<"$shown" || fail "$name: no success message: $shown"
  [ ! -e "$server/Tools/clPacker/Build" ] || fail "$name: the working folder remains"
  [ -z "$(find "$server/Tools/clPacker" -name root.7z)" ] || fail "$name: root.7z remains"
  result="$out/$output"
  [ -s "$result" ] || { fail "$name: $output missing at the destination"; continue; }
  x="$work/x_$name"
  mkdir -p "$x"
  if [[ $output == *.msi ]]; then
    (cd "$x" && msiinfo export "$result" Binary >Binary.idt)
    # msiinfo writes each row's stream as Binary/Binary.NAME.
    listed=$(ls "$x/Binary" | sed 's/^Binary\.//' | sorted)
    [ "$listed" = "$expected" ] || fail "$name: Binary rows are '$listed', expected '$expected'"
    setup_name=$(echo "$files" | cut -d' ' -f1)
    cmp -s "$x/Binary/Binary.$setup_name" "$server/Web/Build/$setup_name" || fail "$name: $setup_name row differs from its file"
    msiinfo tables "$result" | grep -qx Property || fail "$name: the template's tables are gone"
    cp "$x/Binary/Binary.wsnode.ini" "$x/wsnode.ini"
    cp "$x/Binary/Binary.rpinfo.dat" "$x/rpinfo.dat"
  else
    listed=$(7zz l -slt "$result" | sed -n 's/^Path = //p' | tail -n +2 | sed 's/.*[\\/]//' | sorted)
    [ "$listed" = "$expected" ] || fail "$name: setup lists '$listed', expected '$expected'"
    7zz t "$result" >/dev/null || fail "$name: 7zz t fails"
    7zz e -y -o"$x" "$result" wsnode.ini rpinfo.dat -r >/dev/null || fail "$name: cannot extract"
    packer="$server/Tools/clPacker"
    [[ $name == *64 ]] && packer="$packer/64"
    want=${pack_size[$name]:-15}
    grep -qx "size=$want"$'\r' "$packer/pack.log" || fail "$name: pack size is not $want: $(cat "$packer/pack.log")"
  fi
  settings=$(iconv -f UTF-16 -t UTF-8 "$x/wsnode.ini" | tr -d '\r')
  for line in "preset_group_id={5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}" SERVER_IP=10.20.30.40 clntinstnetwk=2 \
    SERVER_NAME=HESSRV01 PLATFORM=windows; do
    grep -qxF "$line" <<<"$settings" || fail "$name: wsnode.ini lacks $line"
  done
  # rpinfo.dat: four zero bytes and the CRC-32 of the 7355-byte record that follows.
  python3 -c 'import sys, zlib, struct; d = open(sys.argv[1], "rb").read()
sys.exit(not (len(d) == 8 + 7355 and d[:4] == bytes(4) and struct.unpack("<I", d[4:8])[0] == zlib.crc32(d[8:])))' \
    "$x/rpinfo.dat" || fail "$name: rpinfo.dat is not a valid record file"
done

# The program folder's 7-Zip folder a link (ln -s, which Wine shows as a folder marked as a
# reparse point) to a folder elsewhere that already holds a 7z.exe: the build stops with 3018
# before writing, running or deleting anything through the link.
mv "$program/clPacker" "$work/clPacker.real"
elsewhere="$work/elsewhere"
mkdir -p "$elsewhere"
printf 'not 7-Zip' >"$elsewhere/7z.exe"
printf 'keep' >"$elsewhere/keep.txt"
ln -s "$elsewhere" "$program/clPacker"
target_state() { (cd "$elsewhere" && ls -A && md5sum ./*); }
before=$(target_state)
status=0
shown=$(wine "$bin/winbuild_tool.exe" "$(win "$server")" "$(win "$program")" "$(win "$out")" 0 0 0 1 \
  --answers N </dev/null | tr -d '\r') || status=$?
[ "$status" = 1 ] || fail "linked 7-Zip folder: exit code $status: $shown"
want="shown: Do you want to create password protected setup?
shown: Error in creating setup"
[ "$shown" = "$want" ] || fail "linked 7-Zip folder: shown '$shown'"
[ "$(target_state)" = "$before" ] || fail "linked 7-Zip folder: its target changed: $(target_state)"
rm "$program/clPacker"
mv "$work/clPacker.real" "$program/clPacker"

# Destinations on a small drive of their own, another volume than the server's, so the
# installer reaches its temporary name there by a copy: full, then with room, then mounted
# read-only; and a destination on a share. Each fault row shows the error, leaves the previous
# installer byte-identical, no temporary file, and every file of the server and the program
# folder as it was.
mnt=$(mktemp -d /tmp/wininst_drive.XXXXXX)
unc="$WINEPREFIX/dosdevices/unc/pkgsrv$$"
previous="$work/previous installer"
head -c 1048576 /dev/urandom >"$previous"
if mount -t tmpfs -o size=32m tmpfs "$mnt" 2>/dev/null; then
  for l in t u v w x y; do
    if [ ! -e "$WINEPREFIX/dosdevices/$l:" ]; then letter=$l; break; fi
  done
  ln -s "$mnt" "$WINEPREFIX/dosdevices/$letter:"
  served() { (cd "$server" && find . -type f ! -name pack.log ! -name '*.journal' -exec md5sum {} + | sort); }
  # drive_case NAME SETUP OUTPUT ANSWERS WANT_STATUS WANT_SHOWN: one build to the drive's root,
  # whose previous installer was planted before (while it was writable).
  drive_case() {
    local name=$1 setup=$2 output=$3 answers=$4 want_status=$5 want_shown=$6 status=0 shown before
    before=$(served)
    shown=$(wine "$bin/winbuild_tool.exe" "$(win "$server")" "$(win "$program")" "${letter^^}:\\" 0 0 "$setup" 1 \
      --answers "$answers" </dev/null | tr -d '\r' | { grep "^shown: " || true; } | tr '\n' '|') || status=$?
    [ "$status" = "$want_status" ] || fail "$name: exit code $status: $shown"
    [ "$shown" = "$want_shown" ] || fail "$name: shown '$shown'"
    [ "$(ls -A "$mnt")" = "$output" ] || fail "$name: the drive holds $(ls -A "$mnt" | tr '\n' ' ')"
    [ "$(served)" = "$before" ] || fail "$name: the server's files changed"
    [ ! -e "$server/Tools/clPacker/Build" ] || fail "$name: the working folder remains"
    [ -z "$(find "$server/Tools/clPacker" -name root.7z -o -name "$output")" ] || fail "$name: packer output remains"
  }
  asked="shown: Do you want to create password protected setup?|"
  failed="shown: Error in creating setup|"
  cp "$server/Web/Build/NODESETP.EXE" "$work/NODESETP.EXE"
  head -c 40000000 /dev/urandom >"$server/Web/Build/NODESETP.EXE"
  for row in "full drive, EXE:0:wsnode32.exe:N:$asked$failed" "full drive, MSI:2:wsnode32.msi:-:$failed"; do
    IFS=: read -r name setup output answers shown <<<"$row"
    rm -f "$mnt"/*
    cp "$previous" "$mnt/$output"
    drive_case "$name" "$setup" "$output" "$answers" 1 "$shown"
    cmp -s "$previous" "$mnt/$output" || fail "$name: the previous installer changed"
  done
  cp "$work/NODESETP.EXE" "$server/Web/Build/NODESETP.EXE"
  rm -f "$mnt"/*
  cp "$previous" "$mnt/wsnode32.exe"
  drive_case "another volume, EXE" 0 wsnode32.exe N 0 "${asked}shown: wsnode32.exe has been created successfully.|"
  7zz t "$mnt/wsnode32.exe" >/dev/null || fail "another volume: the installer there is not whole"
  cp "$previous" "$mnt/wsnode32.exe"
  cp "$previous" "$mnt/wsnode32.msi"
  if mount -o remount,ro "$mnt"; then
    for row in "read-only drive, EXE:0:wsnode32.exe:N:$asked$failed" "read-only drive, MSI:2:wsnode32.msi:-:$failed"; do
      IFS=: read -r name setup output answers shown <<<"$row"
      drive_case "$name" "$setup" "$(printf 'wsnode32.exe\nwsnode32.msi')" "$answers" 1 "$shown"
      cmp -s "$previous" "$mnt/$output" || fail "$name: the previous installer changed"
    done
  else
    fail "cannot mount the drive read-only"
  fi
else
  echo "cannot mount a tmpfs here; the drive cases are skipped"
  rmdir "$mnt"
  mnt=
fi

# A share: Wine serves \\server\share from dosdevices/unc. Its free space is read on the share
# itself, and the installer replaces the previous one there.
mkdir -p "$unc" "$work/share"
ln -s "$work/share" "$unc/share"
cp "$previous" "$work/share/wsnode32.msi"
shown=$(wine "$bin/winbuild_tool.exe" "$(win "$server")" "$(win "$program")" "\\\\pkgsrv$$\\share" 0 0 2 1 </dev/null |
  tr -d '\r') || fail "share: the build failed: $shown"
[ "$shown" = "shown: wsnode32.msi has been created successfully." ] || fail "share: shown '$shown'"
[ "$(ls -A "$work/share")" = wsnode32.msi ] || fail "share: holds $(ls -A "$work/share" | tr '\n' ' ')"
msiinfo tables "$work/share/wsnode32.msi" | grep -qx Binary || fail "share: no installer database there"

[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all installers read back"
