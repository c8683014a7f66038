# Sourced by the signing tests: test certificates made with openssl in the current folder at run
# time (no key is ever kept). make_test_certificates makes a root CA (root.pem), an intermediate
# CA under it (inter.pem, inter.der) and, under the intermediate, code-signing certificates with
# RSA keys (signer, other, cng), one for server authentication only (noeku), one expired in 2021
# (expired) and one with an EC key (ec): NAME.key and NAME.pem each. PFX files with the password
# "secret" (signer, noeku, expired, other: NAME.pfx, with the intermediate), DER certificates
# (signer, ec, other, cng: NAME.der) and DER RSA keys (signer, cng: NAME.key.der) follow.
# thumb NAME prints NAME.pem's SHA-1 thumbprint in upper case.

quiet() { "$@" >/dev/null 2>&1 || { echo "setup failed: $*" >&2; exit 1; }; }

thumb() { openssl x509 -in "$1.pem" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }

# issue NAME EXTENSIONS [KEY-OPTIONS...] [-- CA-OPTIONS...]: NAME.pem under the intermediate, for a
# new key made by KEY-OPTIONS (NAME.key), or for the key NAME.key without them.
issue() {
  local name=$1 ext=$2
  shift 2
  local keyopts=() caopts=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do keyopts+=("$1"); shift; done
  [ $# -eq 0 ] || { shift; caopts=("$@"); }
  if [ ${#keyopts[@]} -eq 0 ]; then
    keyopts=(-key "$name.key")
  else
    keyopts+=(-keyout "$name.key")
  fi
  quiet openssl req -new "${keyopts[@]}" -nodes -out "$name.csr" -subj "/CN=Signing Test $name/O=Test"
  quiet openssl ca -batch -config ca.cnf -cert inter.pem -keyfile inter.key -in "$name.csr" -out "$name.pem" \
    -extensions "$ext" -notext "${caopts[@]}"
}

make_test_certificates() {
  cat >ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[codesign]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[server]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
CNF
  : >index.txt
  echo 1000 >serial
  quiet openssl req -x509 -new -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 30 \
    -subj "/CN=Signing Test Root" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
  quiet openssl req -new -newkey rsa:2048 -nodes -keyout inter.key -out inter.csr -subj "/CN=Signing Test Intermediate"
  quiet openssl ca -batch -config ca.cnf -cert root.pem -keyfile root.key -in inter.csr -out inter.pem -days 30 \
    -extensions ca_ext -notext
  issue signer codesign -newkey rsa:2048 -- -days 30
  issue noeku server -newkey rsa:2048 -- -days 30
  issue expired codesign -newkey rsa:2048 -- -startdate 20200101000000Z -enddate 20210101000000Z
  issue ec codesign -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -- -days 30
  issue other codesign -newkey rsa:2048 -- -days 30
  issue cng codesign -newkey rsa:2048 -- -days 30
  local name
  for name in signer noeku expired other; do
    quiet openssl pkcs12 -export -inkey "$name.key" -in "$name.pem" -certfile inter.pem -out "$name.pfx" \
      -passout pass:secret
  done
  for name in signer ec other cng inter; do quiet openssl x509 -in "$name.pem" -outform DER -out "$name.der"; done
  for name in signer cng; do quiet openssl rsa -in "$name.key" -outform DER -traditional -out "$name.key.der"; done
}

# make_mismatched_key NAME: NAME.pem, a second certificate for signer.key, and NAME.key.der, a
# DER RSA key with signer.key's public half whose first CRT exponent is off by two: a key set
# that holds the certificate's public key and signs with a private key that is not its own.
make_mismatched_key() {
  cp signer.key "$1.key"
  issue "$1" codesign -- -days 30
  quiet openssl x509 -in "$1.pem" -outform DER -out "$1.der"
  openssl rsa -in signer.key -noout -text | python3 -c '
import re, sys
fields, name = {}, None
for line in sys.stdin:
    match = re.match(r"^(\w+):", line)
    if match:
        name = match.group(1)
        fields[name] = ""
    elif line.startswith(" ") and name:
        fields[name] += line.strip().replace(":", "")
number = lambda key: int(fields[key], 16)
print("asn1=SEQUENCE:key\n[key]\nversion=INTEGER:0")
for label, key, change in [("n", "modulus", 0), ("e", None, 0), ("d", "privateExponent", 0),
                           ("p", "prime1", 0), ("q", "prime2", 0), ("dp", "exponent1", 2),
                           ("dq", "exponent2", 0), ("qinv", "coefficient", 0)]:
    print("%s=INTEGER:0x%x" % (label, 65537 if key is None else number(key) + change))' >"$1.asn1"
  quiet openssl asn1parse -genconf "$1.asn1" -out "$1.key.der" -noout
}

# make_tsa_certificate: a time-stamp authority under the root (tsa.key, tsa.pem, its EKU
# time stamping only) and the openssl ts configuration that answers as it (ts.cnf).
make_tsa_certificate() {
  cat >tsa.ext <<'EXT'
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
EXT
  quiet openssl req -new -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=Signing Test TSA"
  quiet openssl x509 -req -in tsa.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 -sha256 \
    -extfile tsa.ext -out tsa.pem
  echo 01 >tsaserial
  cat >ts.cnf <<CNF
[tsa]
default_tsa = test_tsa
[test_tsa]
dir = $PWD
serial = \$dir/tsaserial
crypto_device = builtin
signer_cert = \$dir/tsa.pem
signer_key = \$dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
}
