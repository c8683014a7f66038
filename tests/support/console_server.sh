# Sourced by the console's end-to-end tests after scripts/wine-env.sh: a temporary folder, a
# stand-in server laid out and registered in it, and what every such test does with them.
#   console_work NAME          $work, a fresh folder /tmp/NAME.XXXXXX
#   console_cleanup            the server's registration and $work removed (call it from the
#                              script's EXIT trap, with the script's own clean-up)
#   fail MESSAGE / win PATH    a failure counted in $failures / PATH in Windows form
#   console_layout BIN SERVER [SRVLAYOUT-ARGUMENTS...]
#                              the server laid out from the build folder BIN and registered;
#                              $com is its tmrovane.com
#   run ARGUMENTS...           tmrovane.com run: $status, $stdout and $stderr (carriage returns gone)

console_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CNSLSRVC.EXE_10.5'
failures=0

console_work() { work=$(mktemp -d "/tmp/$1.XXXXXX"); }

console_cleanup() {
  wine reg delete "$console_key" /f /reg:32 >/dev/null 2>&1 || true
  rm -rf "$work"
}

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
win() { winepath -w "$1"; }

console_layout() {
  local bin=$1 server=$2
  shift 2
  wine "$bin/srvlayout.exe" "$(win "$server")" "$@" --built "$(win "$bin")\\" </dev/null >/dev/null
  com="$server/ClientPackager/tmrovane.com"
  [ -f "$com" ] || { echo "FAIL: the layout has no tmrovane.com"; exit 1; }
}

run() {
  status=0
  wine "$com" "$@" </dev/null >"$work/stdout" 2>"$work/stderr" || status=$?
  stdout=$(tr -d '\r' <"$work/stdout")
  stderr=$(tr -d '\r' <"$work/stderr")
}
