#!/usr/bin/env bash
# The console companion carries nothing of the dialog program: no code of its application object,
# its main dialog or its About box is linked into tmrovane.com. Reads the program's symbol table.
set -euo pipefail
nm=$1
program=$2
symbols=$("$nm" -C "$program")
# A program without a symbol table would pass for one without the dialog.
grep -q 'cli::RunCreateCommand' <<<"$symbols" || { echo "FAIL: $program has no symbols to check"; exit 1; }
found=$(grep -E 'CtmrovaneApp|CtmrovaneDlg|CAboutDlg' <<<"$symbols" || true)
if [ -n "$found" ]; then
  echo "FAIL: $program holds code of the dialog program:"
  head -n 5 <<<"$found"
  exit 1
fi
echo "nothing of the dialog program in $program"
