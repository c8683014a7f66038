#!/usr/bin/env bash
# "tmrovane create" signing what it builds, on a laid-out stand-in server, checked by tools that
# share no code with the program: osslsigncode verifies every signed installer against a root CA
# made here (the intermediate must come from the signature), 7zz and msitools still read them,
# and sha256sum agrees with the hash create reports. Every refusal of a certificate comes before
# the build and leaves the earlier installer byte-identical, as does every failure after it; no
# key container stays behind.
# Usage: signed_create_test.sh BIN_DIR (tmrovane.com, srvlayout.exe, the built server) SIGNING_TOOL
set -euo pipefail
bin=$1
tool=$(realpath "$2")
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root_dir/scripts/wine-env.sh"
source "$root_dir/tests/support/test_certificates.sh"

key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\CNSLSRVC.EXE_10.5'
work=$(mktemp -d /tmp/signed_create_test.XXXXXX)
added=()  # "THUMBPRINT CONTAINER KIND" of everything put into the stores
cleanup() {
  for entry in "${added[@]}"; do
    # shellcheck disable=SC2086 # three words
    wine "$tool" remove $entry </dev/null >/dev/null 2>&1 || true
  done
  wine reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
win() { winepath -w "$1"; }

server="$work/Server"
wine "$bin/srvlayout.exe" "$(win "$server")" --built "$(win "$bin")\\" </dev/null >/dev/null
com="$server/ClientPackager/tmrovane.com"
out="$work/out"
mkdir -p "$out" "$work/certs"
dest=$(win "$out")
(cd "$work/certs" && make_test_certificates)
certs=$(win "$work/certs")

run() {  # run ARGS...: sets status, stdout in $stdout, stderr in $stderr
  status=0
  wine "$com" "$@" </dev/null >"$work/stdout" 2>"$work/stderr" || status=$?
  stdout=$(tr -d '\r' <"$work/stdout")
  stderr=$(tr -d '\r' <"$work/stderr")
}
containers() { wine "$tool" containers </dev/null | tr -d '\r' | sort; }
baseline=$(containers)
check_containers() {
  [ "$(containers)" == "$baseline" ] || fail "$1: a key container was left behind: $(containers | tr '\n' ' ')"
}
verify() { osslsigncode verify -CAfile "$work/certs/root.pem" -in "$1" >"$work/verify.out" 2>&1; }
field() { python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$stdout" "$1"; }

# The store: the signer with its key and its intermediate CA, an EC certificate and a certificate
# without its key.
(cd "$work/certs" &&
  wine "$tool" add "$certs\\signer.der" "$certs\\signer.key.der" signed-create-capi capi </dev/null >/dev/null &&
  wine "$tool" add "$certs\\ec.der" - - capi </dev/null >/dev/null &&
  wine "$tool" add "$certs\\other.der" - - capi </dev/null >/dev/null &&
  wine "$tool" add-ca "$certs\\inter.der" </dev/null >/dev/null) || fail "the certificates cannot be stored"
added+=("$(cd "$work/certs" && thumb inter) - capi" "$(cd "$work/certs" && thumb signer) signed-create-capi capi" "$(cd "$work/certs" && thumb ec) - capi"
  "$(cd "$work/certs" && thumb other) - capi")
baseline=$(containers)  # now with the store key's container, which stays until the end
signer_thumb=$(cd "$work/certs" && thumb signer)
# As the certificate dialog copies it: a leading U+200E, pairs of lower-case digits.
pasted=$(printf '\u200e%s' "$(tr 'A-F' 'a-f' <<<"$signer_thumb" | sed 's/\(..\)/\1 /g')")
export PFX_PW=secret PFX_WRONG=wrong

# --- Signed builds: name | installer | arguments ("~" is a blank inside one).
signed=(
  "EXE from a PFX|wsnode32.exe|--antivirus no --sign-pfx $certs\\signer.pfx --sign-pfx-password-env PFX_PW"
  "MSI from a PFX|wsnode64.msi|--setup msi64 --sign-pfx $certs\\signer.pfx --sign-pfx-password-env PFX_PW"
  "EXE from the store|wsnode64.exe|--setup exe64 --antivirus no --sign-thumbprint ${pasted// /\~}"
)
for row in "${signed[@]}"; do
  IFS='|' read -r name installer arguments <<<"$row"
  echo "== $name"
  read -r -a args <<<"$arguments"
  run create --json --destination "$dest" "${args[@]//\~/ }"
  file="$out/$installer"
  [ "$status" = 0 ] && [ -s "$file" ] || { fail "$name: exit code $status: $stderr"; continue; }
  [[ $file == *.msi ]] || grep -q "7-Zip" <<<"$stderr" || fail "$name: 7-Zip's output is not on standard error"
  [ "$(field sha256)" = "$(sha256sum "$file" | cut -d' ' -f1)" ] || fail "$name: the reported SHA-256 is not the signed file's"
  verify "$file" || fail "$name: osslsigncode rejects it: $(tail -5 "$work/verify.out")"
  grep -q "Signing Test Intermediate" "$work/verify.out" || fail "$name: the intermediate is not in the signature"
  case $file in
    *.exe) 7zz t "$file" >/dev/null || fail "$name: 7zz no longer reads the signed setup" ;;
    *.msi)
      msiinfo export "$file" Property >/dev/null || fail "$name: msiinfo no longer reads the signed MSI"
      [ "$(msiinfo streams "$file" | grep -c DigitalSignature)" = 1 ] || fail "$name: not one signature stream" ;;
  esac
  run inspect "$(win "$file")"
  grep -qx "signature: SHA-256, digest matches the file" <<<"$stdout" &&
    grep -qx "signer: CN=Signing Test signer" <<<"$stdout" &&
    grep -qx "signer thumbprint: $signer_thumb" <<<"$stdout" || fail "$name: inspect reports $stdout"
  [ -z "$(ls "$out" | grep -i '\.tmp$')" ] || fail "$name: a temporary file remains"
  check_containers "$name"
done

# A byte of the payload changed after signing: both osslsigncode and inspect see it.
cp "$out/wsnode32.exe" "$work/tampered.exe"
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(-5000, 2); b = f.read(1); f.seek(-5000, 2); f.write(bytes([b[0] ^ 1]))' \
  "$work/tampered.exe"
! verify "$work/tampered.exe" || fail "osslsigncode accepts a tampered setup"
run inspect --json "$(win "$work/tampered.exe")"
python3 -c 'import json, sys; s = json.loads(sys.argv[1])["signature"]; sys.exit(s["digestMatches"] is not False)' \
  "$stdout" || fail "inspect does not see the tampering: $stdout"

# --- Refused before the build: name | exit code | stderr holds | arguments. The earlier setup
# stays byte-identical and nothing is built.
cp "$out/wsnode32.exe" "$work/earlier.exe"
refused=(
  "no code-signing usage|2|(check: no code-signing usage)|--sign-pfx $certs\\noeku.pfx --sign-pfx-password-env PFX_PW"
  "expired|2|(check: outside validity)|--sign-pfx $certs\\expired.pfx --sign-pfx-password-env PFX_PW"
  "wrong PFX password|2|(check: wrong PFX password)|--sign-pfx $certs\\signer.pfx --sign-pfx-password-env PFX_WRONG"
  "EC key|2|(check: not RSA)|--sign-thumbprint $(cd "$work/certs" && thumb ec)"
  "no private key|2|(check: no private key)|--sign-thumbprint $(cd "$work/certs" && thumb other)"
  "unknown thumbprint|2|(check: not found)|--sign-thumbprint 0123456789012345678901234567890123456789"
  "both ways|2|--sign-thumbprint and --sign-pfx exclude each other|--sign-thumbprint $signer_thumb --sign-pfx $certs\\signer.pfx"
  "Mac|2|--sign-pfx is not offered for Mac|--platform mac --sign-pfx $certs\\signer.pfx"
  "Linux|2|--sign-thumbprint is not offered for Linux|--platform linux --sign-thumbprint $signer_thumb"
)
for row in "${refused[@]}"; do
  IFS='|' read -r name code message arguments <<<"$row"
  echo "== refused: $name"
  read -r -a args <<<"$arguments"
  [[ $arguments == *--platform* ]] || args+=(--antivirus no --destination "$dest")
  run create "${args[@]}"
  [ "$status" = "$code" ] && grep -qF -- "$message" <<<"$stderr" ||
    fail "$name: expected $code and '$message', got $status: $stderr"
  cmp -s "$out/wsnode32.exe" "$work/earlier.exe" || fail "$name: the earlier setup changed"
  ! grep -q "7-Zip" <<<"$stderr" || fail "$name: 7-Zip ran"
  check_containers "$name"
done

# --- Failures after the build: the earlier setup stays byte-identical, no temporary file remains.
# The packer's SFX module signed by a vendor: its setup carries that signature, which is kept.
sfx="$server/Tools/clPacker/7z.sfx"
cp "$sfx" "$work/7z.sfx.unsigned"
osslsigncode sign -certs "$work/certs/other.pem" -key "$work/certs/other.key" -h sha256 \
  -in "$work/7z.sfx.unsigned" -out "$work/7z.sfx.signed" >/dev/null && cp "$work/7z.sfx.signed" "$sfx" ||
  fail "the SFX module cannot be signed"
echo "== failed: the packer's setup is signed already"
run create --antivirus no --destination "$dest" --sign-pfx "$certs\\signer.pfx" --sign-pfx-password-env PFX_PW
[ "$status" = 5 ] && grep -qF "already carries a signature" <<<"$stderr" ||
  fail "a setup signed by its packer: expected 5, got $status: $stderr"
cmp -s "$out/wsnode32.exe" "$work/earlier.exe" || fail "a failed signing changed the earlier setup"
[ -z "$(ls "$out" | grep -i '\.tmp$')" ] || fail "a failed signing left a temporary file"
check_containers "a failed signing"
cp "$work/7z.sfx.unsigned" "$sfx"

# The temporary name in the destination taken by a folder: the setup cannot be put there.
mkdir -p "$out/wsnode32.exe.tmp/held"
echo "== failed: the temporary name cannot be written"
run create --antivirus no --destination "$dest" --sign-pfx "$certs\\signer.pfx" --sign-pfx-password-env PFX_PW
[ "$status" = 5 ] || fail "an unwritable temporary name: expected 5, got $status: $stderr"
cmp -s "$out/wsnode32.exe" "$work/earlier.exe" || fail "an unwritable temporary name changed the earlier setup"
check_containers "an unwritable temporary name"

[ $failures = 0 ] || exit 1
echo "every signed installer verified, every refusal and failure left the earlier one intact"
