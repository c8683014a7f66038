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
# Skip the Mono and Gecko installer prompts of a fresh prefix; take a MAPI32.dll beside the
# program (the stand-in server's test library) over Wine's own.
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
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # Unmanaged windows close at once under a bare X server (no window manager).
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
  fi
}

# 32-bit x86 programs: Wine runs them through its 32-bit loader, a 32-bit Linux program. A kernel
# built or booted without 32-bit support refuses to run it ("Exec format error"); there the
# loader runs under qemu's user-mode emulator, registered for 32-bit x86 programs with
# binfmt_misc (needs root). Sets X86_NATIVE to 1 when the kernel runs 32-bit code itself.
QEMU_I386_ENTRY=/proc/sys/fs/binfmt_misc/qemu-i386
ensure_x86_runtime() {
  local was_enabled=0
  if [ -f "$QEMU_I386_ENTRY" ] && grep -qx enabled "$QEMU_I386_ENTRY"; then
    was_enabled=1
    echo 0 >"$QEMU_I386_ENTRY"
  fi
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    X86_NATIVE=1
    [ $was_enabled = 0 ] || echo 1 >"$QEMU_I386_ENTRY"
    return
  fi
  X86_NATIVE=0
  if [ $was_enabled = 1 ]; then
    echo 1 >"$QEMU_I386_ENTRY"
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

# A running server keeps every later Wine start short; the dummy command forces its start-up now.
start_wine_server() {
  wineserver -p 2>/dev/null || true  # one may be running already
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_server() {
  wineserver -k >/dev/null 2>&1 || true
}
