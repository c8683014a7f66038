#!/usr/bin/env bash
# Photographs the main dialog on the stand-in server in its Windows, Minimal, Mac and Linux
# states, and the group dialog showing the stand-in group tree; then builds a password-protected
# agent setup through the window and photographs the password dialog and the success message;
# all under a virtual X server, into docs/*.png.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

source "$PROJECT_ROOT/scripts/layout.sh"
if [ "${1:-}" != "--inside-x" ]; then
  prepare_installation >/dev/null
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-x
fi

title="Halvane Endpoint Security Client Packager"
docs=$PROJECT_ROOT/docs
source "$PROJECT_ROOT/scripts/window.sh"
# Control IDs of the main dialog and of the password dialog; message box buttons.
package=1044 platform=1045 validity=1048 antivirus=1046 destination=1001 create=1006
password=1053 confirm=1054
IDOK=1 IDYES=6

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

# The group dialog over the main dialog, on the stand-in group tree.
group_title="Browse for Group"
browse_group=1023
wintool select "$title" $platform 0
wintool press "$title" $browse_group
if wintool wait "$group_title" 60; then
  sleep 0.5
  import -window "$(xdotool search --name "^$group_title\$" | head -n 1)" "$docs/group-dialog.png"
  echo "docs/group-dialog.png"
  wintool close "$group_title"
  wintool gone "$group_title" 30
else
  echo "The window \"$group_title\" did not appear." >&2
  exit 1
fi

# One EXE/32 bit agent setup with a password, as an administrator builds it.
out_dir=$(mktemp -d /tmp/screenshots_out.XXXXXX)
wintool select "$title" $platform 0
wintool select "$title" $antivirus 1
wintool settext "$title" $destination "$(winepath -w "$out_dir")"
wintool press "$title" $create
wintool answer "$title" $IDYES 600 >/dev/null
wintool wait "Set Password" 300
sleep 0.5
import -window "$(xdotool search --onlyvisible --name "^Set Password\$" | head -n 1)" "$docs/password-dialog.png"
echo "docs/password-dialog.png"
wintool settext "Set Password" $password "Secret1"
wintool settext "Set Password" $confirm "Secret1"
wintool press "Set Password" $IDOK
# The program (emulated where the kernel runs no 32-bit code) runs 7-Zip and the packer.
# The success message is a second window of the program's title.
message_box=
for _ in $(seq 1 900); do
  message_box=$(xdotool search --onlyvisible --name "^$title\$" | grep -vx "$window" | head -n 1) && break
  sleep 1
done
sleep 0.5
import -window "$message_box" "$docs/build-success.png"
echo "docs/build-success.png"
wintool answer "$title" $IDOK 60 >/dev/null
rm -rf "$out_dir"

close_window "$title"
wait "$program"
