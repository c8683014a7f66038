#!/usr/bin/env bash
# Inside a virtual X server: starts the program and builds one installer through its window as
# an administrator would (destination, options, Create, the questions answered), photographs the
# window, prints where the installer is and what it holds, and closes the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
program_dir=$1
screenshot=$2
destination=$3
title="Halvane Endpoint Security Client Packager"
source "$PROJECT_ROOT/scripts/window.sh"
# Control IDs of the main dialog; message box buttons.
edit_destination=1001 combo_antivirus=1046 button_create=1006
IDOK=1 IDNO=7

start_wine_server
trap stop_wine_server EXIT
# The console output of what the build runs (7-Zip, the packer) reaches the program's own
# output: shown only when asked for with VERBOSE=1.
if [ "${VERBOSE:-0}" = 1 ]; then
  wine "$program_dir/tmrovane.exe" &
else
  wine "$program_dir/tmrovane.exe" >/dev/null 2>&1 &
fi
program=$!
if ! wintool wait "$title" 300; then
  echo "The window \"$title\" did not appear." >&2
  exit 1
fi
sleep 1
import -window root "$screenshot"
echo "Screenshot of the window: $screenshot"

mkdir -p "$destination"
rm -f "$destination/wsnode32.exe"
echo "Building the Windows EXE/32 bit agent installer (antivirus setup not included) into $destination"
wintool settext "$title" $edit_destination "$(winepath -w "$destination")"
wintool select "$title" $combo_antivirus 1
wintool press "$title" $button_create
# The program (emulated where the kernel runs no 32-bit code) runs 7-Zip and the packer: allow
# them several minutes.
echo "Question: $(wintool answer "$title" $IDNO 600) -> No"
echo "Message:  $(wintool answer "$title" $IDOK 900)"

installer="$destination/wsnode32.exe"
status=0
if [ -s "$installer" ]; then
  echo "The installer: $installer"
  7zz l "$installer" | sed -n '/^   Date/,$p'
else
  echo "No installer at $installer." >&2
  status=1
fi
log="$program_dir/tmrovane.log"
close_window "$title"
wait "$program"
if [ -e "$log" ]; then
  echo "The trace log is still there after exit." >&2
  exit 1
fi
echo "Closed; the trace log was removed at exit."
exit $status
