#!/usr/bin/env bash
# The program and the stand-in server's libraries are 32-bit x86 PE files; the libraries export
# their __stdcall functions under plain names, and the version library by ordinal only.
set -euo pipefail
bin=$1
objdump=i686-w64-mingw32-objdump
fail() { echo "FAIL: $*" >&2; exit 1; }

for file in tmrovane.exe uistr.dll verkit.dll grpstore.dll cnsldata.dll pack.exe; do
  "$objdump" -f "$bin/$file" | grep -q 'file format pei-i386' || fail "$file is not a 32-bit x86 PE file"
done

# Names in the export table of a DLL, one a line.
exports() { "$objdump" -p "$bin/$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p'; }
for pair in "grpstore.dll GetGroupDetails GetSubGroupsForGroup FreeGroupArray" \
            "cnsldata.dll GetHesBuildInfo ReadTMHESFeatureByID GetGenericData OpenDatabase GetDataByType CloseDatabase"; do
  set -- $pair
  dll=$1; shift
  names=$(exports "$dll")
  [ "$(echo "$names" | grep -c .)" -eq $# ] || fail "$dll exports: $names"
  for name in "$@"; do
    echo "$names" | grep -qx "$name" || fail "$dll lacks the plain export $name (has: $names)"
  done
done

[ -z "$(exports verkit.dll)" ] || fail "verkit.dll exports names: $(exports verkit.dll)"
table=$("$objdump" -p "$bin/verkit.dll" | sed -n '/Export Address Table -- Ordinal Base/,/^$/p')
echo "$table" | grep -q 'base\[   4\]' || fail "verkit.dll lacks ordinal 4"
echo "$table" | grep -q 'base\[   8\]' || fail "verkit.dll lacks ordinal 8"
imports=$("$objdump" -p "$bin/tmrovane.exe" | sed -n '/DLL Name: verkit.dll/,/^$/p')
echo "$imports" | grep -q '80000004' || fail "tmrovane.exe does not import verkit.dll ordinal 4"
echo "$imports" | grep -q '80000008' || fail "tmrovane.exe does not import verkit.dll ordinal 8"
# The program's own manifest; the 7-Zip library it carries among its resources has one too.
manifest=$(strings "$bin/tmrovane.exe" | tr -d '\r' |
  awk '/<assembly[ >]/ { block = ""; own = 0 } { block = block $0 "\n" } /Halvane\.ClientPackager/ { own = 1 }
       /<\/assembly>/ { if (own) printf "%s", block; own = 0 }')
[ "$(echo "$manifest" | grep -o 'processorArchitecture="[^"]*"' | sort -u)" = 'processorArchitecture="x86"' ] ||
  fail "the manifest does not name x86 alone: $manifest"
echo "$manifest" | grep -q 'level="requireAdministrator"' || fail "the manifest does not ask for an administrator"
echo "32-bit binaries and exports as a 32-bit server has them."
