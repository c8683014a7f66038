#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test under Wine inside Xvfb.
# Where the kernel runs 32-bit code only emulated, the full suite runs on the 64-bit test build
# and the 32-bit build runs its own checks (ctest label "x86").
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
source "$PROJECT_ROOT/scripts/deps.sh"
source "$PROJECT_ROOT/scripts/build.sh"

install_deps
ensure_x86_runtime
build_all
trees=("$BUILD_DIR")
if [ "$X86_NATIVE" = 0 ]; then
  build_x64_tests
  trees=("$BUILD_X64_DIR" "$BUILD_DIR")
fi
ensure_wine_prefix
for tree in "${trees[@]}"; do
  install_test_mapi "$tree"
done

# One X server and one Wine server for the whole run; both end with it.
xvfb-run -a -s "-screen 0 1280x1024x24" "$PROJECT_ROOT/scripts/ctest-under-wine.sh" "${trees[@]}" -- "$@"
