#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix; used by CMake and ctest.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
