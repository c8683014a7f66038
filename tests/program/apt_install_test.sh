#!/usr/bin/env bash
# apt_install (scripts/deps.sh) against a stand-in apt-get on PATH that plays a package mirror in
# the middle of a sync: each row says how many updates fail, whether an install without a target
# suite and one with the base suite as target resolve, and what must follow.
set -euo pipefail
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/deps.sh"

work=$(mktemp -d /tmp/apt_install.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# The stand-in: "update" fails while the counter file holds a positive number; "install" succeeds
# or fails by whether a target suite was given. Every call is logged.
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "$*" >>"$STANDIN_DIR/calls"
case $1 in
  update)
    left=$(cat "$STANDIN_DIR/update_failures")
    if [ "$left" -gt 0 ]; then
      echo $((left - 1)) >"$STANDIN_DIR/update_failures"
      echo "E: Failed to fetch http://mirror/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
      exit 100
    fi ;;
  install)
    if [[ " $* " == *" -t "* ]]; then want=$(cat "$STANDIN_DIR/targeted"); else want=$(cat "$STANDIN_DIR/plain"); fi
    if [ "$want" != ok ]; then
      echo "E: Unable to correct problems, you have held broken packages." >&2
      exit 100
    fi ;;
esac
STANDIN
chmod +x "$work/bin/apt-get"
export STANDIN_DIR=$work PATH="$work/bin:$PATH" APT_RETRY_PAUSE=0
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# name | updates that fail | plain install | targeted install | status | installs tried | stderr holds
rows=(
  "a healthy mirror|0|ok|no|0|install -y -qq --no-install-recommends wine32:i386 7zip|"
  "one failed update, then whole lists|1|ok|no|0|install -y -qq --no-install-recommends wine32:i386 7zip|"
  "an index that never downloads, broken pairs|9|no|ok|0|install -y -qq --no-install-recommends wine32:i386 7zip;install -y -qq --no-install-recommends -t $codename wine32:i386 7zip|trying again with the base suite '$codename'"
  "packages that cannot be installed at all|9|no|no|100|install -y -qq --no-install-recommends wine32:i386 7zip;install -y -qq --no-install-recommends -t $codename wine32:i386 7zip|Cannot install: wine32:i386 7zip"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name updates plain targeted want_status want_installs want_stderr <<<"$row"
  echo "$updates" >"$work/update_failures"
  echo "$plain" >"$work/plain"
  echo "$targeted" >"$work/targeted"
  : >"$work/calls"
  status=0
  apt_install wine32:i386 7zip 2>"$work/stderr" || status=$?
  [ "$status" = "$want_status" ] || fail "$name: status $status"
  updates_tried=$(grep -c '^update' "$work/calls" || true)
  want_updates=$((updates < 3 ? updates + 1 : 3))
  [ "$updates_tried" = "$want_updates" ] || fail "$name: $updates_tried updates tried, want $want_updates"
  installs=$(grep '^install' "$work/calls" | paste -sd';')
  [ "$installs" = "$want_installs" ] || fail "$name: installs tried: $installs"
  [ -z "$want_stderr" ] || grep -qF "$want_stderr" "$work/stderr" || fail "$name: stderr lacks '$want_stderr': $(cat "$work/stderr")"
  if [ "$updates" -ge 3 ]; then
    grep -qF "Mirror sync in progress?" "$work/stderr" || fail "$name: the failed index is not named"
  fi
  if [ "$want_status" != 0 ]; then
    grep -qF "held broken packages" "$work/stderr" || fail "$name: apt's last error is not shown"
  fi
  if [ "$name" = "a healthy mirror" ]; then
    [ ! -s "$work/stderr" ] || fail "$name: warned: $(cat "$work/stderr")"
  fi
done
[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "every row passed"
