#!/usr/bin/env bash
# Tests scripts/sign.sh with throwaway keys: a CA made here issues a
# code-signing certificate whose key and certificate go onto a SoftHSM2
# token (the PKCS#11 path) and into a PFX file. The signed
# TessalineSetup.exe must verify against that CA and no other, carry the
# Authenticode digest of the unsigned build, and pass the clean-install
# end-to-end scenario, whose updater copy must be the signed file byte for
# byte. Needs root for the end-to-end world. Ends with "N passed, N failed".
#   scripts/sign-test.sh
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/check-lib.sh
. "$repo/scripts/check-lib.sh"

tmp="$(mktemp -d "${TMPDIR:-/tmp}/tsl-sign-test.XXXXXX")"
trap 'rm -rf "$tmp"' EXIT
"$repo/scripts/build-windows.sh" TessalineSetup >"$tmp/build.log" 2>&1 || {
  tail -20 "$tmp/build.log"
  echo "0 passed, 1 failed"
  exit 1
}
unsigned="$repo/build/windows/TessalineSetup.exe"
cp "$unsigned" "$tmp/TessalineSetup.exe"
unsigned="$tmp/TessalineSetup.exe"
module=/usr/lib/softhsm/libsofthsm2.so

# shellcheck source=scripts/codesign-lib.sh
. "$repo/scripts/codesign-lib.sh"
tsl_codesign_make_ca "$tmp" ca "Tessaline signing test CA"
tsl_codesign_make_ca "$tmp" stranger "Another CA"
tsl_codesign_make_signer "$tmp" ca vendor "Maretto LTD" "Maretto LTD"

# A token of our own: SoftHSM2 keeps it in the temp folder.
mkdir "$tmp/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$tmp/tokens" >"$tmp/softhsm2.conf"
export SOFTHSM2_CONF="$tmp/softhsm2.conf"
echo 314159 >"$tmp/pin"
echo 271828 >"$tmp/wrong-pin"
if ! { softhsm2-util --init-token --free --label tsl-test --pin 314159 --so-pin 161803 &&
  softhsm2-util --import "$tmp/vendor.key" --token tsl-test --label codesign --id 01 \
    --pin 314159 &&
  openssl x509 -in "$tmp/vendor.crt" -outform DER -out "$tmp/vendor.der" &&
  pkcs11-tool --module "$module" --token-label tsl-test --login --pin 314159 \
    --write-object "$tmp/vendor.der" --type cert --id 01 --label codesign; } >"$tmp/token.log" 2>&1; then
  fail "token" "SoftHSM2 token could not be set up: $(tail -3 "$tmp/token.log" | tr '\n' ' ')"
fi
key='pkcs11:token=tsl-test;object=codesign;type=private'

digest_of() { "$repo/scripts/authenticode-digest.py" "$1"; }
signed_digest() {
  osslsigncode verify -in "$1" -CAfile "$tmp/ca.crt" 2>/dev/null |
    sed -nE 's/^Current message digest *: *([0-9A-F]+) *$/\1/p'
}
want_digest="$(digest_of "$unsigned")"

# sign_case NAME OUT SIGN.SH-ARGS...: a signing that must succeed.
sign_case() {
  local name="$1" out="$2"
  shift 2
  if "$repo/scripts/sign.sh" "$@" --ca "$tmp/ca.crt" "$unsigned" "$out" >"$tmp/$name.log" 2>&1; then
    pass "$name: signed and verified against the test CA"
  else
    fail "$name: signed and verified" "$(tail -5 "$tmp/$name.log" | tr '\n' ' ')"
    return 1
  fi
  expect "$name: digest is the unsigned build's" "$(signed_digest "$out")" "$want_digest"
  expect "$name: digest without the signature" "$(digest_of "$out")" "$want_digest"
  expect "$name: signer" "$(grep -m1 -o 'Subject: /CN=Maretto LTD/O=Maretto LTD' "$tmp/$name.log")" \
    "Subject: /CN=Maretto LTD/O=Maretto LTD"
  if osslsigncode verify -in "$out" -CAfile "$tmp/stranger.crt" >/dev/null 2>&1; then
    fail "$name: refused by another CA" "it verified"
  else
    pass "$name: refused by another CA"
  fi
}

# refuse_case NAME SIGN.SH-ARGS...: a signing that must fail and leave no file.
refuse_case() {
  local name="$1" out="$tmp/refused.exe"
  shift
  # A --ca among the case's own arguments comes later and wins.
  if "$repo/scripts/sign.sh" --ca "$tmp/ca.crt" "$@" "$unsigned" "$out" >"$tmp/$name.log" 2>&1; then
    fail "$name: refused" "sign.sh succeeded"
  else
    pass "$name: refused"
  fi
  expect "$name: no output file" "$(ls "$out" "$out.signing" 2>/dev/null)" ""
}

sign_case pkcs11 "$tmp/signed.exe" --pkcs11-module "$module" --key "$key" --pin-file "$tmp/pin"
refuse_case "pkcs11 wrong PIN" --pkcs11-module "$module" --key "$key" --pin-file "$tmp/wrong-pin"

echo "pfx-password" >"$tmp/pfx-pass"
echo "not-it" >"$tmp/wrong-pass"
openssl pkcs12 -export -inkey "$tmp/vendor.key" -in "$tmp/vendor.crt" -certfile "$tmp/ca.crt" \
  -passout "file:$tmp/pfx-pass" -out "$tmp/vendor.pfx"
sign_case pfx "$tmp/signed-pfx.exe" --pfx "$tmp/vendor.pfx" --password-file "$tmp/pfx-pass"
refuse_case "pfx wrong password" --pfx "$tmp/vendor.pfx" --password-file "$tmp/wrong-pass"
refuse_case "verified against another CA" --pfx "$tmp/vendor.pfx" --password-file "$tmp/pfx-pass" \
  --ca "$tmp/stranger.crt"

# With a time stamp from an RFC 3161 authority on loopback, in a network
# namespace of its own.
tsl_codesign_make_tsa "$tmp" ca tsa
cat >"$tmp/timestamped.sh" <<INNER
ip link set lo up || exit 1
python3 "$repo/scripts/tsa_server.py" 8318 "$tmp/tsa.cnf" &
server=\$!
for _ in \$(seq 1 100); do
  python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8318))' 2>/dev/null && break
  sleep 0.1
done
status=0
"$repo/scripts/sign.sh" --pfx "$tmp/vendor.pfx" --password-file "$tmp/pfx-pass" \
  --timestamp http://127.0.0.1:8318/ --ca "$tmp/ca.crt" "$unsigned" "$tmp/signed-ts.exe" || status=\$?
kill \$server
wait \$server 2>/dev/null
exit \$status
INNER
if unshare --net -- bash "$tmp/timestamped.sh" >"$tmp/timestamped.log" 2>&1; then
  pass "time-stamped: signed and verified"
else
  fail "time-stamped: signed and verified" "$(tail -5 "$tmp/timestamped.log" | tr '\n' ' ')"
fi
expect "time-stamped: the time stamp verifies" \
  "$(grep -c 'Timestamp Server Signature verification: ok' "$tmp/timestamped.log")" 1
expect "time-stamped: digest is the unsigned build's" "$(signed_digest "$tmp/signed-ts.exe")" \
  "$want_digest"

echo "--- the PKCS#11-signed file as sign.sh verified it:"
sed -n '/^Signature Index/,/^Succeeded/p' "$tmp/pkcs11.log"
echo "---"
echo "signed: $(sha256sum "$tmp/signed.exe" | cut -d' ' -f1) (Authenticode digest $want_digest)"

# The signed program through the clean install (served files signed by a
# "Maretto LTD" key of the world's own: Wine compares the signer's names, not
# the root): its updater copy is checked against the signed file itself.
if [ -f "$tmp/signed.exe" ]; then
  e2e_log="$tmp/e2e.log"
  TSL_E2E_LOGS="$repo/build/test-logs/signing-e2e" TSL_E2E_SETUP="$tmp/signed.exe" TSL_E2E_SIGNED=1 \
    "$repo/scripts/e2e-test.sh" clean_install >"$e2e_log" 2>&1
  counts="$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$e2e_log" | tail -1)"
  grep -E '^FAIL' "$e2e_log"
  e2e_passed=$(cut -d' ' -f1 <<<"${counts:-0 passed, 1 failed}")
  e2e_failed=$(cut -d' ' -f3 <<<"${counts:-0 passed, 1 failed}")
  if grep -qF ": updater.exe is the setup: [$(sha256sum "$tmp/signed.exe" | cut -d' ' -f1)]" "$e2e_log"; then
    pass "the signed program's updater copy is the signed file"
  else
    fail "the signed program's updater copy is the signed file" "no such check passed"
  fi
  echo "clean install with the signed program: $e2e_passed passed, $e2e_failed failed"
  passed=$((passed + e2e_passed))
  failed=$((failed + e2e_failed))
  [ "$e2e_failed" -eq 0 ] || tsl_check_failures+=("clean install with the signed program: $e2e_failed of its checks")
fi

summary
