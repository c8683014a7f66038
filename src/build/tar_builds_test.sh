#!/usr/bin/env bash
# The Mac and Linux client builds on stand-in servers laid out on drive C:, checked with Linux
# tools. Every kind's archive is read back with GNU tar and bsdtar (names, order, content, the
# folder entry; the settings file and the server-info record inside). Then the faults that only
# a real file system gives: a TAR folder on a read-only mount and a full drive (small tmpfs
# mounts linked into the server), a leftover temporary archive that cannot be removed, and Unix
# links inside or in place of the working folder. No borrowed file may be lost, the previous
# archive must survive, the served folders stay as they were, and a link's target is untouched.
# Last, the free-space check on a server drive of its own, with a leftover temporary archive
# (removed first, so it does not count) or another file filling it.
# Needs root for the mounts; the fault rows are skipped (exit code 77) where mounting is not
# allowed. Usage: tar_builds_test.sh PATH/TO/tarbuild_tool.exe PATH/TO/srvlayout.exe
set -euo pipefail
tool=$1
layout=$2
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-env.sh"

name=tarbuilds.$$
root=$WINEPREFIX/drive_c/$name
winroot="C:\\$name"
work=$(mktemp -d /tmp/tar_builds.XXXXXX)
mounts=()
drive_link=
cleanup() {
  [ -z "$drive_link" ] || rm -f "$drive_link"
  for m in "${mounts[@]}"; do
    umount "$m" 2>/dev/null || umount -l "$m"
    rmdir "$m"
  done
  rm -rf "$root" "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
web=$root/Server/Web/Build
winserver="$winroot\\Server"  # the server the builds run on

lay_out() {  # a fresh server in $root/Server
  rm -rf "$root"
  wine "$layout" "$winroot\\Server" --register none --no-program </dev/null >/dev/null
}
build() {  # build KIND [OPTIONS...]: runs the tool, keeps its messages in $work/messages
  local status=0
  TARBUILD_TOOL_LOG="$winroot\\trace.log" wine "$tool" "$1" "$winserver\\" "${@:2}" </dev/null \
    | tr -d '\r' >"$work/messages" || status=$?
  return $status
}
show_trace() { iconv -f UTF-16LE -t UTF-8 "$root/trace.log" 2>/dev/null | tail -n 20 >&2 || true; }

# read_back TAR FOLDER EXPECTED...: both readers list the folder entry first and then exactly the
# expected files, in the same order, and extract the same bytes.
read_back() {
  local tar=$1 folder=$2
  shift 2
  local expected
  expected=$(printf '%s\n' "$folder/" "${@/#/$folder/}" | sort)
  rm -rf "$work/gnu" "$work/bsd"
  mkdir -p "$work/gnu" "$work/bsd"
  local gnu_list bsd_list
  gnu_list=$(LC_ALL=C tar -tf "$tar" 2>&1) || fail "$folder: GNU tar cannot list: $gnu_list"
  bsd_list=$(LC_ALL=C bsdtar -tf "$tar" 2>&1) || fail "$folder: bsdtar cannot list: $bsd_list"
  [ "$gnu_list" == "$bsd_list" ] || fail "$folder: the readers list differently"
  [ "$(head -n 1 <<<"$gnu_list")" == "$folder/" ] || fail "$folder: the folder entry is not first"
  [ "$(sort <<<"$gnu_list")" == "$expected" ] || fail "$folder: lists $(tr '\n' ' ' <<<"$gnu_list")"
  local verbose
  verbose=$(LC_ALL=C tar -tvf "$tar")
  [ "${verbose:0:1}" == d ] || fail "$folder: the first entry is not a folder"
  tar -xf "$tar" -C "$work/gnu" || fail "$folder: GNU tar cannot extract"
  bsdtar -xf "$tar" -C "$work/bsd" || fail "$folder: bsdtar cannot extract"
  diff -r "$work/gnu" "$work/bsd" >/dev/null || fail "$folder: the readers extract different bytes"
}
same() {  # same FILE REFERENCE WHAT
  cmp -s "$1" "$2" || fail "$3"
}
has_key() {  # has_key INI KEY=VALUE [absent]
  local text
  text=$(iconv -f "$(if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" == fffe ]; then echo UTF-16; else echo UTF-8; fi)" \
    -t UTF-8 "$1" | tr -d '\r')
  if [ "${3:-}" == absent ]; then
    ! grep -q "^${2%%=*}=" <<<"$text" || fail "$1 holds ${2%%=*}"
  else
    grep -qx "$2" <<<"$text" || fail "$1 lacks $2"
  fi
}
# The server-info record: 7363 bytes, its CRC-32 over bytes 8 on (the gzip trailer holds the
# same CRC), and the data block of the stand-in server, nibble-swapped, at offset 99.
check_record() {
  local record=$1
  [ "$(stat -c %s "$record")" -eq 7363 ] || fail "rpinfo.dat is $(stat -c %s "$record") bytes"
  [ "$(tail -c +9 "$record" | gzip -c | tail -c 8 | head -c 4 | od -An -tx1)" == \
    "$(dd if="$record" bs=1 skip=4 count=4 status=none | od -An -tx1)" ] || fail "rpinfo.dat: wrong CRC"
  [ "$(od -An -tx1 -j99 -N6 "$record" | tr -d ' ')" == 845435d24424 ] || fail "rpinfo.dat: not the server's data"
}

# --- Every kind, read back ---------------------------------------------------------------------
lay_out
cp "$web/MWSNODE.DMG" "$web/MACHOST.DMG" "$web/macndef.ini" "$work/"
for bits in 32 64; do cp "$web/heslin$bits/heslin$bits.tar.gz" "$work/"; done

if build 3 --alternate 10.1.2.3; then
  read_back "$web/cnmac/MCWSNOAV.TAR" MCWSNOAV wsnode.ini rpinfo.dat macndef.ini MACHOST.DMG MWSNODE.DMG
  g=$work/gnu/MCWSNOAV
  same "$g/MACHOST.DMG" "$work/MACHOST.DMG" "MacAv: MACHOST.DMG differs in the archive"
  same "$g/MWSNODE.DMG" "$work/MWSNODE.DMG" "MacAv: MWSNODE.DMG differs in the archive"
  same "$g/macndef.ini" "$work/macndef.ini" "MacAv: macndef.ini differs in the archive"
  has_key "$g/wsnode.ini" "preset_group_id={5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}"
  has_key "$g/wsnode.ini" SERVER_IP=10.1.2.3
  has_key "$g/wsnode.ini" clntinstnetwk=2
  has_key "$g/wsnode.ini" SERVER_NAME=HESSRV01
  has_key "$g/wsnode.ini" clntpullfreq absent
  check_record "$g/rpinfo.dat"
  grep -q "MCWSNOAV.TAR has been created successfully at .*web\\\\build\\\\cnmac\\." "$work/messages" ||
    fail "MacAv: $(cat "$work/messages")"
else
  fail "MacAv build failed: $(cat "$work/messages")"
  show_trace
fi
same "$web/MACHOST.DMG" "$work/MACHOST.DMG" "MacAv: MACHOST.DMG is not back"
same "$web/MWSNODE.DMG" "$work/MWSNODE.DMG" "MacAv: MWSNODE.DMG is not back"

if build 4 --mode 2; then
  read_back "$web/cnmac/MCWSNODE.TAR" MCWSNODE wsnode.ini rpinfo.dat MWSNODE.DMG
  g=$work/gnu/MCWSNODE
  same "$g/MWSNODE.DMG" "$work/MWSNODE.DMG" "MacAgent: MWSNODE.DMG differs in the archive"
  has_key "$g/wsnode.ini" clntinstnetwk=2
  has_key "$g/wsnode.ini" SERVER_IP absent
  check_record "$g/rpinfo.dat"
else
  fail "MacAgent build failed: $(cat "$work/messages")"
  show_trace
fi
same "$web/MWSNODE.DMG" "$work/MWSNODE.DMG" "MacAgent: MWSNODE.DMG is not back"

for bits in 32 64; do
  if build $((bits == 32 ? 5 : 6)) --mode 1; then
    read_back "$web/heslin$bits/LINUXWSNO$bits.TAR" "LinuxSetup$bits" wsnode.ini readme.txt install "heslin$bits.tar.gz"
    g=$work/gnu/LinuxSetup$bits
    same "$g/heslin$bits.tar.gz" "$work/heslin$bits.tar.gz" "Linux$bits: the package differs in the archive"
    same "$g/readme.txt" "$web/heslin$bits/readme.txt" "Linux$bits: readme.txt differs"
    same "$g/install" "$web/heslin$bits/install" "Linux$bits: install differs"
    has_key "$g/wsnode.ini" clntinstnetwk=1
    has_key "$g/wsnode.ini" clntpullfreq=0
    has_key "$g/wsnode.ini" "PLATFORM=linux$bits"
    has_key "$g/wsnode.ini" preset_group_id absent
    [ ! -e "$web/heslin$bits/heslin$bits.tar.gz" ] || fail "Linux$bits: the package was not consumed"
    [ ! -e "$web/heslin$bits/LinuxSetup$bits" ] || fail "Linux$bits: the working folder remains"
  else
    fail "Linux$bits build failed: $(cat "$work/messages")"
    show_trace
  fi
done

# --- Faults on real file systems ---------------------------------------------------------------
# mount_small SIZE: mounts a tmpfs of SIZE at a new folder, left in $mnt.
mount_small() {
  mnt=$(mktemp -d /tmp/tar_builds_mnt.XXXXXX)
  if ! mount -t tmpfs -o "size=$1" tmpfs "$mnt" 2>/dev/null; then
    rmdir "$mnt"
    return 1
  fi
  mounts+=("$mnt")
}
if ! mount_small 64k; then
  [ $failures -eq 0 ] || exit 1
  echo "cannot mount a tmpfs here; fault rows skipped"
  exit 77
fi

# Moves FOLDER's content onto a fresh tmpfs of SIZE and puts a link to it in its place.
onto_tmpfs() {  # onto_tmpfs FOLDER SIZE
  mount_small "$2" || return 1
  cp -a "$1/." "$mnt/"
  rm -rf "$1"
  ln -s "$mnt" "$1"
}
read_only() {  # the folder, with the previous archive, on a read-only mount
  onto_tmpfs "$1" 1m && mount -o remount,ro "$mnt"
}
full_for_archive() {  # room for the previous archive only
  onto_tmpfs "$1" 64k
}
# The Linux source folder is also the archive's: room for the copies into the working folder,
# not for the archive.
full_linux() {
  onto_tmpfs "$1" 1m || return 1
  local avail
  avail=$(df -B1 --output=avail "$mnt" | tail -n 1)
  head -c $((avail - 3 * 4096)) /dev/zero >"$mnt/filler" 2>/dev/null || true
}

# Links the test makes itself (ln -s, which Wine shows as a folder marked as a reparse point):
# each points at a folder outside the server holding a file that must survive the build.
link_target() {  # link_target NAME: a fresh folder $work/NAME holding keep.txt, left in $target
  target=$work/$1
  rm -rf "$target"
  mkdir -p "$target"
  printf '%s' "not the build's" >"$target/keep.txt"
}
link_inside() {  # a leftover working folder holding a link to another folder
  link_target inside
  mkdir -p "$web/$working"
  ln -s "$target" "$web/$working/linked"
}
link_as_working() {  # the working folder itself a link; for the Mac agent, the target also holds
  link_target working  # a disk image of the name the build recovers from leftover folders
  if [ "$kind" == 4 ]; then
    mv "$web/MACHOST.DMG" "$target/"
  fi
  ln -s "$target" "$web/$working"
}
tmp_read_only() {  # a leftover temporary archive on a read-only mount: it cannot be removed
  onto_tmpfs "$1" 1m && printf 'partial' >"$mnt/$tar.tmp" && mount -o remount,ro "$mnt"
}

# served_state: every path below the web build folder (links followed) and every file's digest.
served_state() {
  (cd "$web" && find -L . -printf '%y %p\n' | LC_ALL=C sort && find -L . -type f -print0 |
    LC_ALL=C sort -z | xargs -0 md5sum)
}

# fault NAME KIND FOLDER SETUP [MESSAGES [TRACE]]: lays out a server, puts a previous archive in
# FOLDER (relative to the web build folder), has SETUP alter the server (it gets FOLDER's path;
# $tar, $working and $kind are set), builds, and checks that the build failed with MESSAGES
# messages (default 2: the rebuild question, then 3018; 1: 3018 alone), that the trace holds
# TRACE, and that the served folders are exactly as SETUP left them: every borrowed file and the
# previous archive byte-identical, no temporary archive or working folder added, links and their
# targets untouched.
fault() {
  local label=$1 setup=$4 messages=${5:-2} trace_text=${6:-} folder=$3 borrowed f before
  kind=$2
  case $kind in
    3) tar=MCWSNOAV.TAR working=MCWSNOAV borrowed="MACHOST.DMG MWSNODE.DMG" ;;
    4) tar=MCWSNODE.TAR working=MCWSNODE borrowed=MWSNODE.DMG ;;
    5) tar=LINUXWSNO32.TAR working=heslin32/LinuxSetup32 borrowed=heslin32/heslin32.tar.gz ;;
    6) tar=LINUXWSNO64.TAR working=heslin64/LinuxSetup64 borrowed=heslin64/heslin64.tar.gz ;;
  esac
  lay_out
  rm -rf "$work/ref"
  mkdir -p "$work/ref"
  for f in $borrowed; do cp "$web/$f" "$work/ref/"; done
  printf 'previous archive' >"$work/ref/$tar"
  cp "$work/ref/$tar" "$web/$folder/$tar"
  if ! $setup "$web/$folder"; then
    fail "$label: setup failed"
    return
  fi
  before=$(served_state)
  if build "$kind" --answer yes; then
    fail "$label: the build succeeded"
  fi
  { [ "$(grep -c '^message' "$work/messages")" -eq "$messages" ] &&
    [ "$(grep '^message' "$work/messages" | tail -n 1)" == "message 16: Error in creating setup" ]; } ||
    fail "$label: messages $(cat "$work/messages")"
  if [ -n "$trace_text" ] && ! iconv -f UTF-16LE -t UTF-8 "$root/trace.log" | grep -qF "$trace_text"; then
    fail "$label: the trace lacks \"$trace_text\""
  fi
  for f in $borrowed; do
    same "$web/$f" "$work/ref/$(basename "$f")" "$label: $f is lost or changed"
  done
  same "$web/$folder/$tar" "$work/ref/$tar" "$label: the previous archive did not survive"
  [ "$(served_state)" == "$before" ] ||
    fail "$label: the served folders changed: $(diff <(echo "$before") <(served_state) | head -n 10)"
  # The state above follows links, so it covers their targets; this names the loss plainly.
  if [ -n "$target" ] && [ "$(cat "$target/keep.txt" 2>/dev/null)" != "not the build's" ]; then
    fail "$label: the link's target lost its file"
  fi
  target=
  [ $failures -eq 0 ] || show_trace
}

target=
# Mac: both kinds, each fault.
fault "MacAv, TAR folder on a read-only mount" 3 cnmac read_only
fault "MacAgent, TAR folder on a read-only mount" 4 cnmac read_only
fault "MacAgent, TAR folder on a full drive" 4 cnmac full_for_archive
fault "MacAv, TAR folder on a full drive" 3 cnmac full_for_archive
fault "MacAgent, leftover temporary archive on a read-only mount" 4 cnmac tmp_read_only 1 "Cannot remove the temporary TAR"
fault "MacAv, a link inside the working folder" 3 cnmac link_inside 2 "linked is a link"
fault "MacAgent, the working folder is a link" 4 cnmac link_as_working 2 "is a link; it is not emptied"
# Linux: both bitnesses, each fault. The package archive's folder is also the TAR's.
fault "Linux64, source and TAR folder on a full drive" 6 heslin64 full_linux
fault "Linux32, source and TAR folder on a read-only mount" 5 heslin32 read_only
fault "Linux64, leftover temporary archive on a read-only mount" 6 heslin64 tmp_read_only 1 "Cannot remove the temporary TAR"
fault "Linux32, a link inside the working folder" 5 heslin32 link_inside 2 "linked is a link"
fault "Linux64, the working folder is a link" 6 heslin64 link_as_working 2 "is a link; it is not emptied"

# --- The free-space check on the server's own drive ---------------------------------------------
# The server on a drive of its own (a tmpfs made a Wine drive). A leftover temporary archive is
# removed before the check, so its size does not count against the 700 MB the builds require;
# anything else that fills the drive does, and then nothing changes.
letter=
for l in t u v w x y; do
  if [ ! -e "$WINEPREFIX/dosdevices/$l:" ]; then letter=$l; break; fi
done
if [ -z "$letter" ]; then
  fail "no free drive letter for the free-space rows"
elif mount_small 760m; then
  drive_link=$WINEPREFIX/dosdevices/$letter:
  ln -s "$mnt" "$drive_link"
  drive=$mnt
  winserver="${letter^^}:\\Server"
  web=$drive/Server/Web/Build
  # space_row NAME KIND TAR FILL: FILL (tmp: a leftover temporary archive; filler: another file)
  # leaves the drive 4 MiB short of 700 MiB.
  space_row() {
    local label=$1 kind=$2 tar=$3 fill=$4 avail before
    rm -rf "$drive/Server" "$drive/filler" "$root/trace.log"
    wine "$layout" "$winserver" --register none --no-program </dev/null >/dev/null
    printf 'previous archive' >"$work/previous"
    cp "$work/previous" "$web/$tar"
    avail=$(df -B1 --output=avail "$drive" | tail -n 1)
    local short=$((avail - 700 * 1048576 + 4 * 1048576))
    if [ "$fill" == tmp ]; then
      head -c "$short" /dev/zero >"$web/$tar.tmp"
      before=
    else
      head -c "$short" /dev/zero >"$drive/filler"
      before=$(served_state)
    fi
    if [ "$fill" == tmp ]; then
      if build "$kind" --answer yes; then
        [ ! -e "$web/$tar.tmp" ] || fail "$label: the temporary archive remains"
        ! cmp -s "$web/$tar" "$work/previous" || fail "$label: the archive was not replaced"
      else
        fail "$label: the build failed: $(cat "$work/messages")"
        show_trace
      fi
    else
      if build "$kind" --answer yes; then
        fail "$label: the build succeeded"
      fi
      [ "$(grep '^message' "$work/messages")" == "message 16: Insufficient disk space." ] ||
        fail "$label: messages $(cat "$work/messages")"
      same "$web/$tar" "$work/previous" "$label: the previous archive did not survive"
      [ "$(served_state)" == "$before" ] || fail "$label: the served folders changed"
    fi
  }
  space_row "MacAgent, a leftover temporary archive would leave too little space" 4 cnmac/MCWSNODE.TAR tmp
  space_row "Linux32, a leftover temporary archive would leave too little space" 5 heslin32/LINUXWSNO32.TAR tmp
  space_row "MacAv, a drive with too little space" 3 cnmac/MCWSNOAV.TAR filler
  space_row "Linux64, a drive with too little space" 6 heslin64/LINUXWSNO64.TAR filler
  rm -f "$drive_link"
  drive_link=
else
  fail "cannot mount the drive for the free-space rows"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "every kind reads back with GNU tar and bsdtar; nothing borrowed or linked is lost on a read-only or full drive, or past a link"
