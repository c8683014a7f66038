# Sourced by run-headless.sh and screenshots.sh: drives the program's windows from outside
# through wintool (tests/tools/wintool.cpp).
wintool() { wine "$TOOLS_DIR/wintool.exe" "$@"; }

# Closes the window of that title and waits until it is gone. The dialog ignores a close while
# Create is still ending (after its last message box), so the close is asked again.
close_window() {
  for _ in $(seq 1 60); do
    wintool close "$1" || return 0
    wintool gone "$1" 5 && return 0
  done
  return 1
}
