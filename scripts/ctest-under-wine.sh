#!/usr/bin/env bash
# Runs ctest with one Wine server kept alive for the whole run (started inside the X server).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
start_wine_server
trap stop_wine_server EXIT
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 300 "$@"
