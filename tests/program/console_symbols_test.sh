#!/usr/bin/env bash
# The console companion carries nothing of the dialog program: no code of its application object,
# its main dialog or its About box is linked into tmrovane.com. Reads both programs' symbol
# tables; the dialog program must show what the console must not, or the names looked for prove
# nothing. Usage: console_symbols_test.sh NM TMROVANE_COM TMROVANE_EXE
set -euo pipefail
nm=$1
console=$2
dialog=$3
pattern='CtmrovaneApp::|CtmrovaneDlg::|CAboutDlg::'
failures=0
for program in "$console" "$dialog"; do
  symbols=$("$nm" -C "$program")
  # A program without a symbol table would pass for one without the dialog.
  grep -q 'ProgramServices::AcquireSingleInstance' <<<"$symbols" ||
    { echo "FAIL: $program has no symbols to check"; failures=$((failures + 1)); continue; }
  found=$(grep -E "$pattern" <<<"$symbols" || true)
  if [ "$program" = "$console" ] && [ -n "$found" ]; then
    echo "FAIL: $program holds code of the dialog program:"
    head -n 5 <<<"$found"
    failures=$((failures + 1))
  elif [ "$program" = "$dialog" ]; then
    for class in CtmrovaneApp CtmrovaneDlg CAboutDlg; do
      grep -q "$class::" <<<"$found" || { echo "FAIL: no $class in $program"; failures=$((failures + 1)); }
    done
  fi
done
[ $failures = 0 ] || exit 1
echo "nothing of the dialog program in $console"
