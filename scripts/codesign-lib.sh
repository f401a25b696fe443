# shellcheck shell=bash
# Throwaway code-signing certificates for tests, and Authenticode signing
# with them (openssl and osslsigncode from Debian). Source it:
#
#   tsl_codesign_make_ca DIR NAME CN
#       DIR/NAME.crt and DIR/NAME.key: a CA valid for a day
#   tsl_codesign_make_signer DIR CA NAME CN O
#       DIR/NAME.crt / NAME.key: a code-signing certificate for subject
#       CN=CN, O=O issued by DIR/CA; DIR/NAME-chain.crt: it and the CA
#   tsl_codesign_sign DIR NAME IN OUT
#       OUT: IN signed (SHA-256) with DIR/NAME's key, carrying its chain
#   tsl_codesign_make_tsa DIR CA NAME
#       DIR/NAME.crt / NAME.key: a time-stamping certificate issued by
#       DIR/CA, and DIR/NAME.cnf: `openssl ts -reply` configuration for it

tsl_codesign_make_ca() {
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 1 \
    -keyout "$1/$2.key" -out "$1/$2.crt" -subj "/CN=$3" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# tsl_codesign_issue DIR CA NAME SUBJECT EXTENDED-KEY-USAGE
tsl_codesign_issue() {
  local d="$1" ca="$2" name="$3"
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$d/$name.key" \
    -out "$d/$name.csr" -subj "$4" 2>/dev/null || return 1
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=$5" >"$d/$name.ext"
  openssl x509 -req -sha256 -days 1 -in "$d/$name.csr" -CA "$d/$ca.crt" -CAkey "$d/$ca.key" \
    -CAcreateserial -extfile "$d/$name.ext" -out "$d/$name.crt" 2>/dev/null
}

tsl_codesign_make_signer() {
  tsl_codesign_issue "$1" "$2" "$3" "/CN=$4/O=$5" codeSigning || return 1
  cat "$1/$3.crt" "$1/$2.crt" >"$1/$3-chain.crt"
}

tsl_codesign_sign() {
  rm -f "$4"
  osslsigncode sign -h sha256 -certs "$1/$2-chain.crt" -key "$1/$2.key" \
    -in "$3" -out "$4" >/dev/null
}

tsl_codesign_make_tsa() {
  local d="$1" ca="$2" name="$3"
  tsl_codesign_issue "$d" "$ca" "$name" "/CN=Tessaline test time stamps" critical,timeStamping ||
    return 1
  echo 01 >"$d/$name.serial"
  cat >"$d/$name.cnf" <<CNF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $d/$name.serial
signer_cert = $d/$name.crt
certs = $d/$ca.crt
signer_key = $d/$name.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
CNF
}

# tsl_codesign_make_versioned_sample DIR PROGRAM: DIR/versioned.exe, PROGRAM
# (one with a version resource) with its file version set to 1.2.3.4, for
# the version contract test.
tsl_codesign_make_versioned_sample() {
  cp "$2" "$1/versioned.exe" &&
    python3 "$(dirname "${BASH_SOURCE[0]}")/e2e/set-version.py" "$1/versioned.exe" 1.2.3.4
}

# tsl_codesign_make_trust_samples DIR PROGRAM: the samples of the
# Authenticode contract test in DIR: PROGRAM unsigned, signed by a
# "Microsoft Corporation" and by a "Contoso Ltd" certificate of a CA made
# here (no store holds it), and signed then altered. The throwaway keys are
# removed; only the four programs and the CA's certificate stay.
tsl_codesign_make_trust_samples() {
  local dir="$1" program="$2"
  cp "$program" "$dir/unsigned.exe"
  tsl_codesign_make_ca "$dir" ca "Tessaline contract test CA"
  tsl_codesign_make_signer "$dir" ca microsoft "Microsoft Corporation" "Microsoft Corporation"
  tsl_codesign_make_signer "$dir" ca contoso "Contoso Ltd" "Contoso Ltd"
  tsl_codesign_sign "$dir" microsoft "$dir/unsigned.exe" "$dir/microsoft.exe"
  tsl_codesign_sign "$dir" contoso "$dir/unsigned.exe" "$dir/contoso.exe"
  cp "$dir/microsoft.exe" "$dir/altered.exe"
  printf 't' | dd of="$dir/altered.exe" bs=1 seek=78 conv=notrunc status=none
  find "$dir" -maxdepth 1 -type f ! -name '*.exe' ! -name 'ca.crt' -delete
}
