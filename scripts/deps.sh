# Sourced by run.sh and test.sh: installs what is missing, quickly when nothing is.
install_deps() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  local -A need=(
    [x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64-posix
    [x86_64-w64-mingw32-dlltool]=binutils-mingw-w64-x86-64
    [x86_64-w64-mingw32-widl]=mingw-w64-tools
    [cmake]=cmake [ninja]=ninja-build
    [wine]="wine wine64"
    [xvfb-run]=xvfb [xauth]=xauth [import]=imagemagick [xdotool]=xdotool
    [7zz]=7zip [bsdtar]=libarchive-tools [tar]=tar
    [msiinfo]=msitools [wixl]=wixl
    [npm]=npm
  )
  local missing=() cmd
  for cmd in "${!need[@]}"; do
    command -v "$cmd" >/dev/null 2>&1 || missing+=(${need[$cmd]})
  done
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  if [ ! -f "$root/node_modules/.package-lock.json" ] ||
     ! cmp -s "$root/package-lock.json" "$root/node_modules/.lock-copy" 2>/dev/null; then
    (cd "$root" && npm ci --ignore-scripts --no-audit --no-fund >/dev/null && cp package-lock.json node_modules/.lock-copy)
  fi
}
