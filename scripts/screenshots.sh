#!/usr/bin/env bash
# Photographs the main dialog on the stand-in server in its Windows, Minimal, Mac and Linux
# states, under a virtual X server, into docs/main-dialog-*.png.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

source "$PROJECT_ROOT/scripts/layout.sh"
if [ "${1:-}" != "--inside-x" ]; then
  prepare_installation >/dev/null
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-x
fi

title="Halvane Endpoint Security Client Packager"
docs=$PROJECT_ROOT/docs
wintool() { wine "$TOOLS_DIR/wintool.exe" "$@"; }
# Control IDs of the main dialog.
package=1044 platform=1045 validity=1048

start_wine_server
trap stop_wine_server EXIT
mkdir -p "$docs"
wine "$PROGRAM_DIR/tmrovane.exe" &
program=$!
if ! wintool wait "$title" 300; then
  echo "The window \"$title\" did not appear." >&2
  exit 1
fi
window=$(xdotool search --name "^$title\$" | head -n 1)
# The first paint of a freshly started program can lag behind its window on a busy machine.
sleep 5

shoot() {
  sleep 0.5
  import -window "$window" "$docs/main-dialog-$1.png"
  echo "docs/main-dialog-$1.png"
}

shoot windows
wintool select "$title" $package 1
wintool click "$title" $validity
shoot minimal
wintool click "$title" $validity
wintool select "$title" $package 0
wintool select "$title" $platform 1
shoot mac
wintool select "$title" $platform 2
shoot linux

wintool close "$title"
wait "$program"
