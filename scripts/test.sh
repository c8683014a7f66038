#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test under Wine inside Xvfb.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
source "$PROJECT_ROOT/scripts/deps.sh"
source "$PROJECT_ROOT/scripts/build.sh"

install_deps
build_all
ensure_wine_prefix

# One X server and one Wine server for the whole run; both end with it.
xvfb-run -a -s "-screen 0 1280x1024x24" "$PROJECT_ROOT/scripts/ctest-under-wine.sh" "$@"
