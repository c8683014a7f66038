# Sourced by run.sh, test.sh and the benchmarks: installs what is missing, quickly when nothing is.
#
# What is missing is decided from the package database, never from a command name: the project
# puts its own wrappers (scripts/bin) first on PATH, so a name such as "wine" is found even where
# the package that the wrapper runs was never installed.

# Each package and the commands of it that the scripts and tests call ("-" where they call none
# by name: a library, sources, or a 32-bit half that other commands load). "A|B" accepts either
# package when it provides the commands, and installs A when neither does: npm comes with some
# builds of nodejs, which then conflict with the distribution's npm package.
DEPS_PACKAGES=(
  "g++-mingw-w64-i686-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-gcc-posix"
  "g++-mingw-w64-x86-64-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix"
  "binutils-mingw-w64-i686 i686-w64-mingw32-windres i686-w64-mingw32-dlltool i686-w64-mingw32-objdump"
  "mingw-w64-tools i686-w64-mingw32-widl"
  "cmake cmake ctest"
  "ninja-build ninja"
  "googletest -"
  "wine wine wineserver"
  "wine64 /usr/lib/wine/wine64"
  "wine32:i386 /usr/lib/wine/wine"
  "xvfb xvfb-run Xvfb"
  "xauth xauth"
  "imagemagick import"
  "xdotool xdotool"
  "7zip 7zz"
  "libarchive-tools bsdtar"
  "tar tar"
  "gzip gzip"
  "msitools msiinfo msibuild"
  "nlohmann-json3-dev -"
  "wixl wixl"
  "osslsigncode osslsigncode"
  "strace strace"
  "openssl openssl"
  "npm|nodejs npm"
  "python3 python3"
  "time /usr/bin/time"
  "qemu-user qemu-i386"
)

# The real command, looked up outside the project's wrappers; absolute names are files.
deps_real_command() {
  case $1 in
    /*) [ -x "$1" ] ;;
    *) PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin command -v "$1" >/dev/null 2>&1 ;;
  esac
}

deps_installed() {
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

# deps_satisfied "A|B" COMMANDS...: prints the first alternative that is installed and provides
# every command; fails when none does.
deps_satisfied() {
  local alternatives=$1 package command
  shift
  for package in ${alternatives//|/ }; do
    deps_installed "$package" || continue
    for command in "$@"; do
      [ "$command" = - ] || deps_real_command "$command" || continue 2
    done
    echo "$package"
    return 0
  done
  return 1
}

# Fails, naming the package, when a package is not installed or a command it should provide is
# not there.
check_deps() {
  local entry package commands command status=0
  for entry in "${DEPS_PACKAGES[@]}"; do
    read -r package commands <<<"$entry"
    # shellcheck disable=SC2086 # the commands are words
    deps_satisfied "$package" $commands >/dev/null && continue
    status=1
    package=${package%%|*}
    if ! deps_installed "$package"; then
      echo "Missing package: $package (not installed)" >&2
      continue
    fi
    for command in $commands; do
      [ "$command" = - ] || deps_real_command "$command" ||
        echo "Missing command: $command (package $package is installed but does not provide it)" >&2
    done
  done
  return $status
}

# apt_install PACKAGES...: installs the packages from the distribution's archive, through a mirror
# that may be in the middle of a sync. The package lists are updated up to APT_UPDATE_ATTEMPTS
# times (a pause of APT_RETRY_PAUSE seconds between tries); when an index still fails, the lists
# apt has are used. Fails, naming the packages and apt's last error, only when they cannot be
# installed at all.
apt_install() {
  local attempt attempts=${APT_UPDATE_ATTEMPTS:-3} errors codename status=0
  errors=$(mktemp)
  for ((attempt = 1; ; attempt++)); do
    apt-get update -qq 2>"$errors" >/dev/null && break
    if [ "$attempt" -ge "$attempts" ]; then
      echo "Warning: the package lists could not all be updated; going on with those apt has:" >&2
      grep -E '^(E|W):' "$errors" >&2 || cat "$errors" >&2
      break
    fi
    sleep "${APT_RETRY_PAUSE:-10}"
  done
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"$errors" ||
    status=$?
  if [ $status != 0 ]; then
    # A missing index of one architecture in the security suite makes apt pair that
    # architecture's halves of a multiarch library from the base suite with the other's from
    # security, and it calls the pair broken. With the release's base suite as the target, both
    # halves come from there: the base suite's versions, without their security fixes. This
    # cannot help once the installed halves are newer than the base suite's.
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -n "$codename" ]; then
      echo "Warning: apt could not resolve the packages; trying again with the base suite" \
        "'$codename' as the target (its versions, without later security fixes)." >&2
      status=0
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t "$codename" "$@" \
        >/dev/null 2>"$errors" || status=$?
    fi
  fi
  if [ $status != 0 ]; then
    echo "Cannot install: $*" >&2
    echo "apt's last error:" >&2
    grep -E '^E:' "$errors" >&2 || cat "$errors" >&2
  fi
  rm -f "$errors"
  return $status
}

install_deps() {
  local root entry package commands missing=()
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  for entry in "${DEPS_PACKAGES[@]}"; do
    read -r package commands <<<"$entry"
    # shellcheck disable=SC2086 # the commands are words
    deps_satisfied "$package" $commands >/dev/null || missing+=("${package%%|*}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    # 32-bit programs run under the win64 prefix through Wine's 32-bit half (WoW64).
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt_install "${missing[@]}" || return 1
  fi
  check_deps || { echo "Some required packages are missing; see above." >&2; return 1; }
  if [ ! -f "$root/node_modules/.package-lock.json" ] ||
     ! cmp -s "$root/package-lock.json" "$root/node_modules/.lock-copy" 2>/dev/null; then
    (cd "$root" && npm ci --ignore-scripts --no-audit --no-fund >/dev/null && cp package-lock.json node_modules/.lock-copy)
  fi
}
