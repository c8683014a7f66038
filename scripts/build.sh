# Sourced by run.sh and test.sh: configures and builds everything.
#   build_all: the program and the stand-in server as 32-bit x86, into $BUILD_DIR.
#   build_x64_tests: on a host that runs 32-bit code only emulated, the same sources as 64-bit
#   programs into $BUILD_X64_DIR, for the full test suite.
BUILD_X64_DIR=${BUILD_X64_DIR:-$BUILD_DIR/x64}

configure_and_build() {
  local dir=$1 toolchain=$2
  shift 2
  # A compiler cache, where one is installed, shares objects between checkouts of the sources.
  if command -v ccache >/dev/null 2>&1; then
    set -- "$@" -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  fi
  cmake -S "$PROJECT_ROOT" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PROJECT_ROOT/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir"
}

build_all() {
  local emulated=OFF
  [ "${X86_NATIVE:-1}" = 1 ] || emulated=ON
  configure_and_build "$BUILD_DIR" mingw-w64-i686.cmake -DX86_EMULATED=$emulated \
    -DX64_TOOLS_DIR="$BUILD_X64_DIR/bin"
}

build_x64_tests() {
  configure_and_build "$BUILD_X64_DIR" mingw-w64-x86_64.cmake
}
