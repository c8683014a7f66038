# Sourced by run.sh and test.sh: installs what is missing, quickly when nothing is.
install_deps() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  local -A need=(
    [i686-w64-mingw32-g++-posix]=g++-mingw-w64-i686-posix
    [i686-w64-mingw32-dlltool]=binutils-mingw-w64-i686
    [i686-w64-mingw32-widl]=mingw-w64-tools
    [cmake]=cmake [ninja]=ninja-build
    [wine]="wine wine64"
    [xvfb-run]=xvfb [xauth]=xauth [import]=imagemagick [xdotool]=xdotool
    [7zz]=7zip [bsdtar]=libarchive-tools [tar]=tar
    [msiinfo]=msitools [wixl]=wixl
    [npm]=npm [qemu-i386]=qemu-user
  )
  local missing=() cmd
  for cmd in "${!need[@]}"; do
    command -v "$cmd" >/dev/null 2>&1 || missing+=(${need[$cmd]})
  done
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  # 32-bit programs run under the win64 prefix through Wine's 32-bit half (WoW64).
  dpkg -s wine32:i386 >/dev/null 2>&1 || missing+=(wine32:i386)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  if [ ! -f "$root/node_modules/.package-lock.json" ] ||
     ! cmp -s "$root/package-lock.json" "$root/node_modules/.lock-copy" 2>/dev/null; then
    (cd "$root" && npm ci --ignore-scripts --no-audit --no-fund >/dev/null && cp package-lock.json node_modules/.lock-copy)
  fi
}
