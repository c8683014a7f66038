#!/usr/bin/env bash
# Signs real files with signing_tool under Wine and checks them with tools that share no code
# with it: osslsigncode verifies every signature against a root CA made here (the intermediate CA
# must come from the signature itself), 7zz still lists a signed setup, msiinfo still reads a
# signed MSI, and a small checksum reader checks the PE checksum. Every refusal of a certificate
# gets a row, and the key containers must be the same after every run as before.
# Usage: signing_test.sh PATH/TO/signing_tool.exe PATH/TO/7z.sfx PATH/TO/template.wxs
# OSSLSIGNCODE names another osslsigncode to verify with (another release than the one installed).
set -euo pipefail
tool=$(realpath "$1")
sfx=$(realpath "$2")
wxs=$(realpath "$3")
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wine_run="$root_dir/scripts/wine-run.sh"
source "$root_dir/tests/support/test_certificates.sh"
work=$(mktemp -d /tmp/signing_test.XXXXXX)
added=()  # "THUMBPRINT CONTAINER KIND" of everything put into the stores
cleanup() {
  for entry in "${added[@]}"; do
    # shellcheck disable=SC2086 # three words
    "$wine_run" "$tool" remove $entry </dev/null >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
run_tool() { "$wine_run" "$tool" "$@" </dev/null; }
cd "$work"

# --- Certificates: a root, an intermediate under it, and signers under the intermediate.
make_test_certificates

# --- Files to sign: a self-extracting setup (a 32-bit PE, its size made not a multiple of 8), a
# 64-bit PE (the tool itself), and an MSI from the stand-in server's template.
mkdir payload
head -c 300000 /dev/urandom >payload/agent.bin
echo "settings" >payload/wsnode.ini
quiet 7zz a -t7z payload.7z ./payload/*
cat "$sfx" payload.7z >setup.exe
[ $(($(stat -c %s setup.exe) % 8)) != 0 ] || printf 'x' >>setup.exe
cp "$tool" tool.exe
(cd "$(dirname "$wxs")" && wixl -o "$work/template.msi" "$(basename "$wxs")") >/dev/null
fresh() {  # fresh NAME: a new unsigned copy of setup.exe, tool.exe or template.msi as NAME
  case $1 in
    *.msi) cp template.msi "$1" ;;
    tool*) cp tool.exe "$1" ;;
    *) cp setup.exe "$1" ;;
  esac
}

verify() {  # verify FILE: osslsigncode accepts it against the root alone
  "${OSSLSIGNCODE:-osslsigncode}" verify -CAfile root.pem -in "$1" >"$1.verify" 2>&1
}
pe_checksum_ok() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
field = struct.unpack_from('<I', data, 60)[0] + 24 + 64
stored = struct.unpack_from('<I', data, field)[0]
body = data[:field] + b'\0\0\0\0' + data[field + 4:]
total = 0
for (word,) in struct.iter_unpack('<H', body + b'\0' * (len(body) % 2)):
    total = (total & 0xffff) + (total >> 16) + word
total = (total & 0xffff) + (total >> 16)
total = (total & 0xffff) + (total >> 16)
sys.exit(0 if stored == total + len(data) else 1)
PY
}
report() { run_tool inspect "$(winpath "$work/$1")" | tr -d '\r'; }
containers() { run_tool containers | tr -d '\r' | sort; }
baseline=$(containers)
check_containers() {
  # Only containers that were not there before count: Wine keeps every PFX import in one
  # container named after the user, which an earlier run's import may have left.
  local left
  left=$(comm -13 <(echo "$baseline") <(containers) | tr '\n' ' ')
  [ -z "${left// /}" ] || fail "$1: a key container was left behind: $left"
}
signer_thumb=$(thumb signer)

# --- A PFX: a 32-bit setup, a 64-bit program and an MSI in one run, each verified.
fresh pfx-setup.exe; fresh pfx-tool.exe; fresh pfx.msi
if ! SIGNING_PASSWORD=secret run_tool pfx "$(winpath "$work/signer.pfx")" SIGNING_PASSWORD \
  "$(winpath "$work/pfx-setup.exe")" "$(winpath "$work/pfx-tool.exe")" "$(winpath "$work/pfx.msi")" >pfx.out; then
  fail "signing with the PFX failed: $(cat pfx.out)"
fi
check_containers "a signed run"
for file in pfx-setup.exe pfx-tool.exe pfx.msi; do
  verify "$file" || fail "$file: osslsigncode rejects it: $(tail -5 "$file.verify")"
  grep -q "Signing Test Intermediate" "$file.verify" || fail "$file: the intermediate CA is not in the signature"
  r=$(report "$file")
  grep -qx "subject: CN=Signing Test signer" <<<"$r" && grep -Eqx "issuer: CN=\"?Signing Test Intermediate\"?" <<<"$r" &&
    grep -qx "thumbprint: $signer_thumb" <<<"$r" && grep -qx "digest: SHA-256" <<<"$r" &&
    grep -qx "digest matches: yes" <<<"$r" || fail "$file: inspect reports $(tr '\n' '|' <<<"$r")"
done
for file in pfx-setup.exe pfx-tool.exe; do pe_checksum_ok "$file" || fail "$file: the PE checksum is wrong"; done
[ $(($(stat -c %s pfx-setup.exe) % 8)) == 0 ] || fail "the signed setup's size is not a multiple of 8"
listing=$(7zz l pfx-setup.exe 2>&1) || true
grep -q " agent.bin$" <<<"$listing" || fail "7zz no longer lists the signed setup"
mkdir extracted && 7zz x -oextracted pfx-setup.exe >/dev/null 2>&1 && cmp -s payload/agent.bin extracted/agent.bin ||
  fail "the signed setup no longer extracts its payload"
msiinfo tables pfx.msi >/dev/null 2>&1 && msiinfo export pfx.msi Property >/dev/null 2>&1 ||
  fail "msiinfo no longer reads the signed MSI"
[ "$(msiinfo streams pfx.msi | grep -c DigitalSignature)" == 1 ] || fail "the signed MSI has not one signature stream"
report setup.exe | grep -qx "present: no" || fail "an unsigned setup is reported as signed"

# --- The same inputs give the same bytes (no signing time).
fresh again-setup.exe; fresh again.msi
SIGNING_PASSWORD=secret run_tool pfx "$(winpath "$work/signer.pfx")" SIGNING_PASSWORD "$(winpath "$work/again-setup.exe")" \
  "$(winpath "$work/again.msi")" >/dev/null || fail "signing again failed"
cmp -s again-setup.exe pfx-setup.exe || fail "the same setup signed twice differs"

# --- Tampering: one byte of the payload, of the MSI's banner stream, of the signature.
flip() {  # flip FILE OFFSET
  python3 -c "import sys; f=open(sys.argv[1],'r+b'); f.seek(int(sys.argv[2])); b=f.read(1); f.seek(int(sys.argv[2])); f.write(bytes([b[0]^1]))" "$1" "$2"
}
cp pfx-setup.exe flipped.exe && flip flipped.exe $(($(stat -c %s setup.exe) - 1000))
cp pfx.msi flipped.msi
banner=$(python3 -c "import sys; print(open(sys.argv[1],'rb').read().find(open(sys.argv[2],'rb').read(16)))" flipped.msi \
  "$(dirname "$wxs")/banner.txt")
[ "$banner" -gt 0 ] && flip flipped.msi "$banner" || fail "the banner stream's bytes are not found in the MSI"
cp pfx-setup.exe flipped-signature.exe && flip flipped-signature.exe $(($(stat -c %s pfx-setup.exe) - 200))
for file in flipped.exe flipped.msi flipped-signature.exe; do
  ! verify "$file" || fail "$file: osslsigncode accepts a tampered file"
done
for file in flipped.exe flipped.msi; do
  report "$file" | grep -qx "digest matches: no" || fail "$file: inspect does not see the tampering"
done

# --- A signed setup keeps its signature and gets the new one nested in it; a signed MSI gets the
# new signature alone.
cp pfx-setup.exe resign.exe; cp pfx.msi resign.msi
SIGNING_PASSWORD=secret run_tool pfx "$(winpath "$work/other.pfx")" SIGNING_PASSWORD "$(winpath "$work/resign.exe")" \
  >resign.out 2>&1 || fail "a signed setup could not take a nested signature: $(cat resign.out)"
verify resign.exe || fail "the setup with a nested signature fails verification: $(tail -5 resign.exe.verify)"
r=$(report resign.exe)
grep -qx "thumbprint: $signer_thumb" <<<"$r" && grep -qx "nested thumbprint: $(thumb other)" <<<"$r" &&
  grep -qx "nested digest matches: yes" <<<"$r" || fail "inspect of the nested signature: $(tr '\n' '|' <<<"$r")"
pe_checksum_ok resign.exe || fail "the setup with a nested signature has a wrong PE checksum"
SIGNING_PASSWORD=secret run_tool pfx "$(winpath "$work/other.pfx")" SIGNING_PASSWORD "$(winpath "$work/resign.msi")" >/dev/null ||
  fail "a signed MSI could not be signed again"
verify resign.msi || fail "the re-signed MSI fails verification"
report resign.msi | grep -qx "thumbprint: $(thumb other)" || fail "the re-signed MSI does not carry the new signer"
[ "$(msiinfo streams resign.msi | grep -c DigitalSignature)" == 1 ] || fail "the re-signed MSI has not one signature"
check_containers "a failed run"

# --- A certificate whose key property names a key set that holds another key (under Wine every
# PFX import shares one container, so another program's import can put another key there): it
# is refused, where signing would make a signature that verifies nowhere.
run_tool add "$(winpath "$work/cng.der")" "$(winpath "$work/signer.key.der")" signing-test-mismatch capi >/dev/null ||
  fail "the mismatched key cannot be stored"
fresh mismatch.exe
status=0
run_tool thumbprint "$(thumb cng)" "$(winpath "$work/mismatch.exe")" >mismatch.out 2>&1 || status=$?
[ $status = 18 ] && cmp -s mismatch.exe setup.exe ||
  fail "a key set with another key: expected 18 (no private key), got $status: $(cat mismatch.out)"
# The certificate goes at once: the key storage row below puts it into the store again.
run_tool remove "$(thumb cng)" signing-test-mismatch capi >/dev/null 2>&1 || fail "the mismatched certificate stays"

# --- What an earlier signer may leave goes, and a storage's streams and class ID are covered.
fresh old.msi
run_tool old-signature "$(winpath "$work/old.msi")" >/dev/null || fail "the old signature cannot be made"
SIGNING_PASSWORD=secret run_tool pfx "$(winpath "$work/signer.pfx")" SIGNING_PASSWORD "$(winpath "$work/old.msi")" >/dev/null ||
  fail "an MSI with an old signature and a storage could not be signed"
verify old.msi || fail "the MSI with a storage fails verification: $(tail -5 old.msi.verify)"
compound=$(7zz l -tCompound old.msi 2>&1) || true
grep -q "Nested/a$" <<<"$compound" || fail "the storage's streams are gone"
! grep -q "MsiDigitalSignatureEx" <<<"$compound" || fail "the old signature's extension is still there"

# --- From the store, by thumbprint as the certificate dialog copies it: U+200E, spaces, lower case.
run_tool add "$(winpath "$work/signer.der")" "$(winpath "$work/signer.key.der")" signing-test-capi capi >/dev/null &&
  added+=("$signer_thumb signing-test-capi capi") || fail "the signer cannot be put into the store"
run_tool add-ca "$(winpath "$work/inter.der")" >/dev/null && added+=("$(thumb inter) - capi") ||
  fail "the intermediate cannot be put into the store"
pasted=$(printf '\u200e%s' "$(tr 'A-F' 'a-f' <<<"$signer_thumb" | sed 's/\(..\)/\1 /g')")
fresh store-setup.exe; fresh store.msi
run_tool thumbprint "$pasted" "$(winpath "$work/store-setup.exe")" "$(winpath "$work/store.msi")" >store.out ||
  fail "signing by thumbprint failed: $(cat store.out)"
for file in store-setup.exe store.msi; do verify "$file" || fail "$file: osslsigncode rejects it"; done
baseline=$(containers)  # now with the store key's container, which stays until the end

# --- Refusals, one row each: the check named, the exit code, the file untouched, no container.
run_tool add "$(winpath "$work/ec.der")" - - capi >/dev/null && added+=("$(thumb ec) - capi") ||
  fail "the EC certificate cannot be put into the store"
run_tool add "$(winpath "$work/other.der")" - - capi >/dev/null && added+=("$(thumb other) - capi") ||
  fail "the key-less certificate cannot be put into the store"
refusals=(
  "pfx noeku.pfx secret|15|no code-signing usage"
  "pfx expired.pfx secret|16|outside validity"
  "pfx signer.pfx wrong|14|wrong PFX password"
  "pfx missing.pfx secret|13|PFX unreadable"
  "thumbprint $(thumb ec)|17|not RSA"
  "thumbprint $(thumb other)|18|no private key"
  "thumbprint 0000000000000000000000000000000000000000|12|not found"
  "thumbprint 12:34|11|bad thumbprint"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r how code name <<<"$row"
  read -r kind what password <<<"$how"
  fresh refused.exe
  status=0
  if [ "$kind" = pfx ]; then
    SIGNING_PASSWORD=$password run_tool pfx "$(winpath "$work/$what")" SIGNING_PASSWORD "$(winpath "$work/refused.exe")" \
      >refused.out 2>&1 || status=$?
  else
    run_tool thumbprint "$what" "$(winpath "$work/refused.exe")" >refused.out 2>&1 || status=$?
  fi
  [ "$status" == "$code" ] && grep -q "check: $name" refused.out ||
    fail "$how: expected $code ($name), got $status: $(tr '\n' '|' <refused.out)"
  cmp -s refused.exe setup.exe || fail "$how: the refused file was changed"
  check_containers "$how"
done

# --- A key in key storage, found through the certificate's key property. Wine 8's NCryptOpenKey
# is a stub (NTE_NOT_SUPPORTED): there the lookup must reach it and refuse, where Windows signs.
run_tool add "$(winpath "$work/cng.der")" "$(winpath "$work/cng.key.der")" signing-test-cng cng >/dev/null 2>&1 &&
  added+=("$(thumb cng) signing-test-cng cng") || fail "the key storage key cannot be imported"
fresh cng-setup.exe
status=0
SIGNING_TOOL_LOG=$(winpath "$work/cng.log") run_tool thumbprint "$(thumb cng)" "$(winpath "$work/cng-setup.exe")" \
  >cng.out 2>&1 || status=$?
if [ $status = 0 ]; then
  verify cng-setup.exe || fail "the key storage signature fails verification"
elif ! tr -d '\0' <cng.log | grep -q "NCryptOpenKey failed (Err -> 0x80090029)"; then
  fail "the key storage key was not reached: $status $(cat cng.out) $(tr -d '\0' <cng.log)"
fi

[ $failures = 0 ] || exit 1
echo "every signature verified, every refusal made"
