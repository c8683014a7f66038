#!/usr/bin/env bash
# "tmrovane create" showing its stages on standard error, on a laid-out stand-in server. With
# standard error redirected (as under ctest), every kind of build writes one plain line per stage
# with its duration, in the order the build runs them, --quiet writes none, and standard output
# holds the installer's path alone. Under a pseudo-terminal (script), standard error is a console:
# 7-Zip's percentage and the TAR's bytes rise on a line that is rewritten, each stage ends with
# its duration, and nothing that 7-Zip or the packer writes reaches the terminal. The payloads are
# made large enough for several updates to be seen (a 64 MiB incompressible antivirus component
# keeps 7-Zip, which reports a few times a second, busy for seconds even on a fast machine; the
# TAR reports every MiB of a sparse Mac disk image); no timing is asserted.
# Usage: progress_test.sh BIN_DIR (tmrovane.com, srvlayout.exe and the built server)
set -euo pipefail
bin=$1
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root_dir/scripts/wine-env.sh"
source "$root_dir/tests/support/console_server.sh"

console_work progress_test
trap console_cleanup EXIT
server="$work/Server"
console_layout "$bin" "$server" --disk-image-mb 300
head -c $((64 * 1048576)) /dev/urandom >"$server/Web/Build/tmhostsv.exe"
out="$work/out"
mkdir -p "$out"
dest=$(win "$out")

# The stage names of standard error's plain lines ("NAME: 1.2 s"), one per line; a line of
# another form that names a stage is reported as it stands.
stages() {
  grep -E '^(Writing|Gathering|Compressing|Packing|Building|Signing|Putting)' <<<"$1" |
    sed -E 's/^(.*): [0-9]+\.[0-9] s$/\1/'
}

# --- Redirected: name | arguments | installer | the stages in order (comma-separated).
record="Writing the server-info record"
rows=(
  "EXE|--antivirus yes --yes|wsnoav32.exe|$record,Gathering the payload,Compressing,Packing the setup,Putting the installer in place"
  "MSI|--setup msi64|wsnode64.msi|$record,Gathering the payload,Building the MSI package,Putting the installer in place"
  "Mac TAR|--platform mac --yes|MCWSNOAV.TAR|$record,Gathering the payload,Writing the TAR,Putting the installer in place"
  "Linux TAR|--platform linux --yes|*.TAR|Gathering the payload,Writing the TAR,Putting the installer in place"
  "quiet EXE|--antivirus no --quiet|wsnode32.exe|"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name arguments installer expected <<<"$row"
  echo "== $name"
  read -r -a args <<<"$arguments"
  [[ $arguments == *--platform* ]] || args+=(--destination "$dest")
  run create "${args[@]}"
  [ "$status" = 0 ] || { fail "$name: exit code $status: $stderr"; continue; }
  # shellcheck disable=SC2053 # the installer's name may be a pattern
  [[ $(wc -l <<<"$stdout") = 1 && ${stdout##*\\} == $installer ]] || fail "$name: standard output: $stdout"
  [ "$(stages "$stderr" | paste -sd,)" = "$expected" ] ||
    fail "$name: the stages were '$(stages "$stderr" | paste -sd,)', not '$expected': $stderr"
  ! grep -q "7-Zip" <<<"$stderr" || fail "$name: 7-Zip's own output reached standard error: $stderr"
  grep -qE '^(3019|118|3011|3012): ' <<<"$stderr" || fail "$name: the build's message is missing: $stderr"
done

# --- A console, by a pseudo-terminal: what it shows, with the escape sequences gone and every
# rewrite of the line a line of its own.
on_console() {
  script -qc "wine '$com' create $1 >'$work/pty.out'" "$work/pty.log" </dev/null >/dev/null || true
  sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/pty.log" | tr '\r' '\n' | grep -v '^Script ' | sed '/^ *$/d'
}
# A stage's rising figures on its live line: name | arguments | the stage.
live=(
  "EXE|--antivirus yes --yes --destination '$dest'|Compressing"
  "Mac TAR|--platform mac --yes|Writing the TAR"
)
for row in "${live[@]}"; do
  IFS='|' read -r name arguments stage <<<"$row"
  echo "== on a console: $name"
  shown=$(on_console "$arguments")
  [ "$(tr -d '\r' <"$work/pty.out" | wc -l)" = 1 ] || fail "$name: standard output: $(cat "$work/pty.out")"
  percents=$(grep -oE "^$stage\.\.\. [0-9]+%  [0-9]+:[0-9]{2}" <<<"$shown" | sed -E 's/.*\.\.\. ([0-9]+)%.*/\1/')
  [ "$(sort -n <<<"$percents")" = "$percents" ] && [ "$(sort -u <<<"$percents" | wc -l)" -ge 2 ] ||
    fail "$name: $stage's percentage did not rise on its line: $shown"
  grep -qE "^$stage: [0-9]+\.[0-9] s *$" <<<"$shown" || fail "$name: $stage ends without its duration: $shown"
  grep -qE "^Putting the installer in place: [0-9]+\.[0-9] s *$" <<<"$shown" ||
    fail "$name: the last stage ends without its duration: $shown"
  ! grep -qE "7-Zip|Everything is Ok|pack\.exe" <<<"$shown" || fail "$name: a child's output reached the console: $shown"
done

echo "$failures failure(s)"
[ "$failures" = 0 ]
