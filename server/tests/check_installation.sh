#!/usr/bin/env bash
# Reads a laid-out stand-in server with the Linux tools: the packer's setup lists and extracts
# with 7zz, the MSI templates have a Binary table, the Linux package installs with its script.
# Usage: check_installation.sh BIN_DIR
set -euo pipefail
bin=$1
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

wine "$bin/srvlayout.exe" "$(winepath -w "$work/Server")" --register none --no-program >/dev/null
server=$work/Server

# A setup made by pack.exe from a 7z archive of a working folder.
mkdir "$work/Build"
cp "$server/Web/Build/NODESETP.EXE" "$server/Web/Build/wsnode.ini" "$work/Build/"
for packer in "$server/Tools/clPacker" "$server/Tools/clPacker/64"; do
  rm -f "$packer/root.7z"
  (cd "$work/Build" && 7zz a -bd "$packer/root.7z" . >/dev/null)
  (cd "$packer" && wine pack.exe root.7z wsnode32.exe 15 </dev/null) || fail "pack.exe in $packer"
  listing=$(7zz l "$packer/wsnode32.exe") || fail "7zz l cannot read the setup in $packer"
  grep -q ' NODESETP.EXE$' <<<"$listing" || fail "the setup does not list NODESETP.EXE"
  7zz t "$packer/wsnode32.exe" >/dev/null || fail "7zz t fails on the setup"
  rm -rf "$work/out"
  7zz x -bd -o"$work/out" "$packer/wsnode32.exe" >/dev/null || fail "7zz x fails on the setup"
  cmp "$work/Build/NODESETP.EXE" "$work/out/NODESETP.EXE" || fail "extracted NODESETP.EXE differs"
  grep -qx 'size=15' <(tr -d '\r' <"$packer/pack.log") || fail "pack.log lacks size=15"

  msiinfo tables "$packer/template.msi" | grep -qx Binary || fail "no Binary table in $packer/template.msi"
done

# The Linux package archives install with their own script and the agent runs.
for bits in 32 64; do
  folder=$server/Web/Build/heslin$bits
  tar -tzf "$folder/heslin$bits.tar.gz" | grep -qx 'hesagent/bin/hesagent' || fail "heslin$bits.tar.gz content"
  HES_AGENT_DIR=$work/agent$bits sh "$folder/install" >/dev/null || fail "install script ($bits)"
  "$work/agent$bits/hesagent/bin/hesagent" | grep -q "linux$bits" || fail "agent ($bits) does not run"
done

# The settings template is UTF-16LE with a byte-order mark and holds [SETTING].
head -c 2 "$server/Web/Build/wsnode.ini" | od -An -tx1 | grep -q 'ff fe' || fail "wsnode.ini has no byte-order mark"
iconv -f UTF-16 -t UTF-8 "$server/Web/Build/wsnode.ini" | grep -q '^\[SETTING\]' || fail "wsnode.ini lacks [SETTING]"
echo "stand-in installation checked"
