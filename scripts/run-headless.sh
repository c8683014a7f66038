#!/usr/bin/env bash
# Inside a virtual X server: starts the program, photographs its window, closes it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
program_dir=$1
screenshot=$2
title="Halvane Endpoint Security Client Packager"
wintool() { wine "$TOOLS_DIR/wintool.exe" "$@"; }

start_wine_server
trap stop_wine_server EXIT
wine "$program_dir/tmrovane.exe" &
program=$!
if ! wintool wait "$title" 300; then
  echo "The window \"$title\" did not appear." >&2
  exit 1
fi
sleep 1
import -window root "$screenshot"
echo "Screenshot of the window: $screenshot"
log="$program_dir/tmrovane.log"
if [ -f "$log" ]; then
  echo "Trace log of the running program ($log):"
  iconv -f UTF-16LE -t UTF-8 "$log" | sed 's/\r$//; s/^/  /'
fi
wintool close "$title"
wait "$program"
if [ -e "$log" ]; then
  echo "The trace log is still there after exit." >&2
  exit 1
fi
echo "Closed; the trace log was removed at exit."
