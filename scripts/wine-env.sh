# Sourced by the other scripts: the project-local Wine prefix and its settings.
PROJECT_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$PROJECT_ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$PROJECT_ROOT/build/wineprefix}
export WINEARCH=win64
case ":$PATH:" in
  *":$PROJECT_ROOT/scripts/bin:"*) ;;
  *) export PATH="$PROJECT_ROOT/scripts/bin:$PATH" ;;
esac
export WINEDEBUG=${WINEDEBUG:--all}
# Skip the Mono and Gecko installer prompts of a fresh prefix; take the MAPI32.dll in the
# prefix's system folders (the stand-in server's test library, see install_test_mapi) over
# Wine's own.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;mapi32=n,b}

ensure_wine_prefix() {
  # A prefix made before Wine's 32-bit half was installed has no 32-bit system files and can
  # run no 32-bit program: make it again.
  if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "Re-creating the Wine prefix $WINEPREFIX: it has no 32-bit system files."
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # Through the 64-bit loader (see scripts/bin/wine), as every other Wine start.
    wine wineboot -i >/dev/null 2>&1
    wineserver -w
    # Unmanaged windows close at once under a bare X server (no window manager).
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
  fi
}

# The test MAPI32.dll of a build tree (server/mapi32, which records the mail it is handed) goes
# where the system's mail stub lies: programs load MAPI32 from the system folder only, and with
# mapi32=n,b Wine takes this file there over its own. A 32-bit library goes into syswow64 (the
# system folder of 32-bit programs), a 64-bit one into system32.
install_test_mapi() {
  local library=$1/bin/MAPI32.dll header machine folder
  [ -f "$library" ] || { echo "No test mail library at $library" >&2; return 1; }
  header=$(od -An -tu4 -j60 -N4 "$library" | tr -d ' ')
  machine=$(od -An -tx1 -j$((header + 4)) -N2 "$library" | tr -d ' ')
  case $machine in
    4c01) folder=syswow64 ;;
    6486) folder=system32 ;;
    *) echo "$library is no 32-bit or 64-bit x86 library (machine $machine)" >&2; return 1 ;;
  esac
  cp "$library" "$WINEPREFIX/drive_c/windows/$folder/mapi32.dll"
}

# 32-bit x86 programs: Wine runs them through its 32-bit loader, a 32-bit Linux program. A kernel
# built or booted without 32-bit support refuses to run it ("Exec format error"); there the
# loader runs under qemu's user-mode emulator, registered for 32-bit x86 programs with
# binfmt_misc (needs root). Sets X86_NATIVE to 1 when the kernel runs 32-bit code itself.
QEMU_I386_ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386

# Whether the kernel itself runs 32-bit x86 code. The probe is a minimal 32-bit program (it only
# exits) whose ELF header has ABI version 1: binfmt_misc entries for 32-bit x86 programs (ours
# and the distribution's) match only version 0, so the probe never runs under an emulator,
# while the kernel's own loader ignores that byte. No binfmt entry is switched off to ask.
kernel_runs_x86() {
  local probe status=0
  probe=$(mktemp /tmp/x86probe.XXXXXX)
  printf '\x7fELF\x01\x01\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' \
    >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=1
  rm -f "$probe"
  return $status
}

ensure_x86_runtime() {
  if kernel_runs_x86; then
    X86_NATIVE=1
    return
  fi
  X86_NATIVE=0
  if [ -f "$QEMU_I386_ENTRY" ] && grep -qx enabled "$QEMU_I386_ENTRY"; then
    return
  fi
  [ -f /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  [ ! -f "$QEMU_I386_ENTRY" ] || echo -1 >"$QEMU_I386_ENTRY"
  # The ELF header of a 32-bit x86 executable or shared object; F: the emulator is opened now,
  # so it also serves programs started inside other mount namespaces.
  echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
    >/proc/sys/fs/binfmt_misc/register
  echo "This kernel runs no 32-bit x86 code; 32-bit programs run under qemu-i386 (slow to start)."
}

# watch_x86_processes FILE: until killed, appends to FILE one line for each 32-bit x86 process
# of this prefix's Wine that runs under the emulator: the time it was seen, its process ID and
# command line. Such a process lives for tens of seconds (its start alone takes about 45 s), so
# two looks a second see every one.
watch_x86_processes() {
  local file=$1 proc pid emulator
  local -A seen=()
  emulator=$(sed -n 's/^interpreter //p' "$QEMU_I386_ENTRY" 2>/dev/null)
  emulator=${emulator:-/usr/bin/qemu-i386}
  while :; do
    for proc in /proc/[0-9]*; do
      pid=${proc#/proc/}
      [ -z "${seen[$pid]:-}" ] || continue
      [ "$(readlink "$proc/exe" 2>/dev/null)" = "$emulator" ] || continue
      seen[$pid]=1
      tr '\0' '\n' <"$proc/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
      echo "$(date +%T) $pid $(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null)" >>"$file"
    done
    sleep 0.5
  done
}

# A running server keeps every later Wine start short; the dummy command forces its start-up now.
# WINE_SERVER_STARTED tells whether this call started it (1) or found one running (0), so that
# a caller inside someone else's run (a benchmark inside the suite) leaves that one running.
start_wine_server() {
  local status=0
  wineserver -p 2>/dev/null || status=$?
  WINE_SERVER_STARTED=1
  [ $status != 2 ] || WINE_SERVER_STARTED=0  # 2: one is running already
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_server() {
  wineserver -k >/dev/null 2>&1 || true
}
