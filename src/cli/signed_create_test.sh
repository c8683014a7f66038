#!/usr/bin/env bash
# "tmrovane create" signing what it builds, on a laid-out stand-in server, checked by tools that
# share no code with the program: osslsigncode verifies every signed installer against a root CA
# made here (the intermediate must come from the signature), 7zz and msitools still read them,
# and sha256sum agrees with the hash create reports. Signatures are stamped by a time-stamp
# authority on 127.0.0.1 (openssl ts behind tests/support/tsa_responder.py), and a setup its
# packer signed keeps that signature with the administrator's nested in it. Every refusal of a
# certificate or URL comes before the build and leaves the earlier installer byte-identical, as
# does every failure after it, the authority's included; no key container stays behind.
# Usage: signed_create_test.sh BIN_DIR (tmrovane.com, srvlayout.exe, the built server) SIGNING_TOOL
set -euo pipefail
bin=$1
tool=$(realpath "$2")
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root_dir/scripts/wine-env.sh"
source "$root_dir/tests/support/console_server.sh"
source "$root_dir/tests/support/test_certificates.sh"

console_work signed_create_test
added=()  # "THUMBPRINT CONTAINER KIND" of everything put into the stores
tsa_pid=
cleanup() {
  [ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null || true
  for entry in "${added[@]}"; do
    # shellcheck disable=SC2086 # three words
    wine "$tool" remove $entry </dev/null >/dev/null 2>&1 || true
  done
  console_cleanup
}
trap cleanup EXIT

server="$work/Server"
console_layout "$bin" "$server"
out="$work/out"
mkdir -p "$out" "$work/certs"
dest=$(win "$out")
(cd "$work/certs" && make_test_certificates && make_tsa_certificate)
certs=$(win "$work/certs")

containers() { wine "$tool" containers </dev/null | tr -d '\r' | sort; }
baseline=$(containers)
check_containers() {
  # Only containers that were not there before count: Wine keeps every PFX import in one
  # container named after the user, which an earlier run's import may have left.
  local left
  left=$(comm -13 <(echo "$baseline") <(containers) | tr '\n' ' ')
  [ -z "${left// /}" ] || fail "$1: a key container was left behind: $left"
}
verify() { osslsigncode verify -CAfile "$work/certs/root.pem" -in "$1" >"$work/verify.out" 2>&1; }
field() { python3 -c 'import json, sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$stdout" "$1"; }

# The store: the signer with its key and its intermediate CA, an EC certificate, a certificate
# without its key, and a second certificate for the signer's public key whose stored private key
# is not the one that belongs to it.
(cd "$work/certs" &&
  wine "$tool" add "$certs\\signer.der" "$certs\\signer.key.der" signed-create-capi capi </dev/null >/dev/null &&
  wine "$tool" add "$certs\\ec.der" - - capi </dev/null >/dev/null &&
  wine "$tool" add "$certs\\other.der" - - capi </dev/null >/dev/null &&
  wine "$tool" add-ca "$certs\\inter.der" </dev/null >/dev/null &&
  make_mismatched_key twin &&
  wine "$tool" add "$certs\\twin.der" "$certs\\twin.key.der" signed-create-twin capi </dev/null >/dev/null) ||
  fail "the certificates cannot be stored"
added+=("$(cd "$work/certs" && thumb inter) - capi" "$(cd "$work/certs" && thumb signer) signed-create-capi capi" "$(cd "$work/certs" && thumb ec) - capi"
  "$(cd "$work/certs" && thumb other) - capi" "$(cd "$work/certs" && thumb twin) signed-create-twin capi")
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
  grep -qx "Signing: [0-9.]* s" <<<"$stderr" || fail "$name: no stage line for the signing: $stderr"
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

# A byte of the setup's DOS stub changed after signing (the archive stays whole, so inspect
# reads the file): both osslsigncode and inspect see it.
cp "$out/wsnode32.exe" "$work/tampered.exe"
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(80); b = f.read(1); f.seek(80); f.write(bytes([b[0] ^ 1]))' \
  "$work/tampered.exe"
! verify "$work/tampered.exe" || fail "osslsigncode accepts a tampered setup"
run inspect --json "$(win "$work/tampered.exe")"
python3 -c 'import json, sys; s = json.loads(sys.argv[1])["signature"]; sys.exit(s["digestMatches"] is not False)' \
  "$stdout" || fail "inspect does not see the tampering: $stdout"

# --- Refused before the build: name | exit code | stderr holds | arguments. The earlier setup
# stays byte-identical and nothing is built.
cp "$out/wsnode32.exe" "$work/earlier.exe"
refused=(
  "private key not the certificate's|2|(check: key mismatch)|--sign-thumbprint $(cd "$work/certs" && thumb twin)"
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
  ! grep -q "^Compressing" <<<"$stderr" || fail "$name: 7-Zip ran"
  check_containers "$name"
done

# --- Failures after the build: the earlier setup stays byte-identical, no temporary file remains.
# The packer's SFX module signed by a vendor and the archive appended after it: that signature
# is not the file's end, so none can be nested in it, and the build fails.
sfx="$server/Tools/clPacker/7z.sfx"
cp "$sfx" "$work/7z.sfx.unsigned"
osslsigncode sign -certs "$work/certs/other.pem" -key "$work/certs/other.key" -h sha256 \
  -in "$work/7z.sfx.unsigned" -out "$work/7z.sfx.signed" >/dev/null && cp "$work/7z.sfx.signed" "$sfx" ||
  fail "the SFX module cannot be signed"
echo "== failed: the packer's setup is signed already"
run create --antivirus no --destination "$dest" --sign-pfx "$certs\\signer.pfx" --sign-pfx-password-env PFX_PW
[ "$status" = 5 ] && grep -qF "cannot take another one nested in it" <<<"$stderr" ||
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
rm -r "$out/wsnode32.exe.tmp"

# --- Timestamps, from an authority the test starts on 127.0.0.1.
echo ok >"$work/tsa.mode"
python3 "$root_dir/tests/support/tsa_responder.py" "$work/certs/ts.cnf" "$work/tsa.mode" >"$work/tsa.port" &
tsa_pid=$!
for _ in $(seq 50); do [ -s "$work/tsa.port" ] && break; sleep 0.2; done
url="http://127.0.0.1:$(head -1 "$work/tsa.port")/"
pfx=(--sign-pfx "$certs\\signer.pfx" --sign-pfx-password-env PFX_PW)
stamped_verify() {
  osslsigncode verify -CAfile "$work/certs/root.pem" -TSA-CAfile "$work/certs/root.pem" -in "$1" \
    >"$work/verify.out" 2>&1
}
for row in "wsnode32.exe|--antivirus no" "wsnode64.msi|--setup msi64"; do
  IFS='|' read -r installer arguments <<<"$row"
  echo "== timestamped $installer"
  read -r -a args <<<"$arguments"
  run create --destination "$dest" "${args[@]}" "${pfx[@]}" --timestamp "$url"
  [ "$status" = 0 ] || { fail "timestamped $installer: exit code $status: $stderr"; continue; }
  stamped_verify "$out/$installer" || fail "timestamped $installer: osslsigncode rejects it: $(tail -5 "$work/verify.out")"
  run inspect "$(win "$out/$installer")"
  grep -Eqx "timestamp: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} UTC by CN=Signing Test TSA" <<<"$stdout" ||
    fail "timestamped $installer: inspect reports $stdout"
  check_containers "timestamped $installer"
done

# Faults of the authority, each after the build: exit 5, the server and the fault named, the
# earlier setup byte-identical. "closed" is a port nobody listens on.
cp "$out/wsnode32.exe" "$work/earlier.exe"
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for row in "refuse|the request was refused" "nonce|nonce is not the request's" "imprint|stamps another hash" \
  "slow|no answer in time" "closed|cannot connect"; do
  IFS='|' read -r mode message <<<"$row"
  echo "== timestamp fault: $mode"
  echo "$mode" >"$work/tsa.mode"
  at=$url
  [ "$mode" != closed ] || at="http://127.0.0.1:$closed/"
  run create --antivirus no --destination "$dest" "${pfx[@]}" --timestamp "$at"
  [ "$status" = 5 ] && grep -qF "$at" <<<"$stderr" && grep -qF "$message" <<<"$stderr" ||
    fail "timestamp fault $mode: expected 5 naming $at and '$message', got $status: $stderr"
  cmp -s "$out/wsnode32.exe" "$work/earlier.exe" || fail "timestamp fault $mode: the earlier setup changed"
  [ -z "$(ls "$out" | grep -i '\.tmp$')" ] || fail "timestamp fault $mode: a temporary file remains"
  check_containers "timestamp fault $mode"
done
echo ok >"$work/tsa.mode"

# URLs refused before the build.
for row in "ftp://127.0.0.1/|bad value for --timestamp" "no signing|--timestamp needs --sign-thumbprint or --sign-pfx"; do
  IFS='|' read -r what message <<<"$row"
  if [ "$what" = "no signing" ]; then
    run create --antivirus no --destination "$dest" --timestamp "$url"
  else
    run create --antivirus no --destination "$dest" "${pfx[@]}" --timestamp "$what"
  fi
  [ "$status" = 2 ] && grep -qF -- "$message" <<<"$stderr" || fail "$what: expected 2 and '$message', got $status: $stderr"
  ! grep -q "^Compressing" <<<"$stderr" || fail "$what: 7-Zip ran"
done

# --- A setup its packer signed keeps that signature; the administrator's, stamped, is nested in it.
(cd "$work/certs" && quiet openssl pkcs12 -export -inkey other.key -in other.pem -certfile inter.pem \
  -out "$server/Tools/clPacker/pack.pfx" -passout pass:pack)
echo "== a setup its packer signed"
run create --antivirus no --destination "$dest" "${pfx[@]}" --timestamp "$url"
rm -f "$server/Tools/clPacker/pack.pfx"
if [ "$status" != 0 ]; then
  fail "a setup its packer signed: exit code $status: $stderr"
else
  stamped_verify "$out/wsnode32.exe" || fail "the nested signature fails verification: $(tail -8 "$work/verify.out")"
  grep -q "Number of verified signatures: 2" "$work/verify.out" ||
    fail "osslsigncode verifies not two signatures: $(grep -i signature "$work/verify.out")"
  run inspect "$(win "$out/wsnode32.exe")"
  grep -qx "signer thumbprint: $(cd "$work/certs" && thumb other)" <<<"$stdout" &&
    grep -qx "nested 1 signer thumbprint: $signer_thumb" <<<"$stdout" &&
    grep -qx "nested 1 signature: SHA-256, digest matches the file" <<<"$stdout" &&
    grep -q "^nested 1 timestamp: .* by CN=Signing Test TSA$" <<<"$stdout" || fail "inspect of the nested signature: $stdout"
  check_containers "a setup its packer signed"
fi

[ $failures = 0 ] || exit 1
echo "every signed installer verified, every refusal and failure left the earlier one intact"
