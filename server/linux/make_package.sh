#!/usr/bin/env bash
# Makes the Linux agent package archive of the stand-in server: a gzip'd TAR holding the agent
# start script and its version file. Usage: make_package.sh OUTPUT.tar.gz 32|64
set -euo pipefail
output=$1
bits=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/hesagent/bin"
cat > "$work/hesagent/bin/hesagent" <<SCRIPT
#!/bin/sh
# Halvane Endpoint Security agent (stand-in, ${bits}-bit): reports its settings and exits.
here=\$(cd "\$(dirname "\$0")/.." && pwd)
echo "hesagent ${bits}-bit \$(cat "\$here/VERSION")"
[ -f "\$here/../wsnode.ini" ] && grep -i '^SERVER' "\$here/../wsnode.ini"
exit 0
SCRIPT
chmod 755 "$work/hesagent/bin/hesagent"
printf '10.5.1234 linux%s\n' "$bits" > "$work/hesagent/VERSION"
tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -C "$work" -cf - hesagent | gzip -n -9 > "$output.tmp"
mv "$output.tmp" "$output"
