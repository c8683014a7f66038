#!/usr/bin/env bash
# Installs what is missing, builds, lays out the stand-in server installation and starts the
# Client Packager on it under Wine. Without a display it runs on a virtual X server, saves a
# screenshot of the window, builds one Windows installer through the window into out/installer,
# lists what it holds and closes the program again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
source "$PROJECT_ROOT/scripts/layout.sh"

prepare_installation

if [ -n "${DISPLAY:-}" ]; then
  wine "$PROGRAM_DIR/tmrovane.exe"
else
  mkdir -p "$PROJECT_ROOT/out"
  xvfb-run -a -s "-screen 0 1024x768x24" "$PROJECT_ROOT/scripts/run-headless.sh" "$PROGRAM_DIR" \
    "$PROJECT_ROOT/out/tmrovane.png" "$PROJECT_ROOT/out/installer"
fi
