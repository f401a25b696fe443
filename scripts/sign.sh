#!/usr/bin/env bash
# Signs a Windows executable with Authenticode (SHA-256) using osslsigncode,
# then verifies the signed file. The key is on a hardware token reached
# through its PKCS#11 module (the usual place of a publicly trusted
# code-signing key), or in a PFX file.
#
#   scripts/sign.sh --pkcs11-module MODULE --key URI --pin-file FILE
#                   [--cert URI|FILE] [--chain FILE] [common options] IN OUT
#   scripts/sign.sh --pfx FILE --password-file FILE [common options] IN OUT
#
#   --pkcs11-module MODULE  the token's PKCS#11 module (a .so)
#   --key URI               the private key on the token, an RFC 7512 URI such
#                           as "pkcs11:token=Vendor;object=codesign;type=private"
#   --cert URI|FILE         the certificate: a pkcs11: URI on the token
#                           (default: the key's URI with type=cert), or a file
#   --chain FILE            intermediate certificates to carry (PEM)
#   --pin-file FILE         the token's user PIN, first line of FILE
#   --pfx FILE              PKCS#12 file with key, certificate and chain
#   --password-file FILE    its password, first line of FILE
# common:
#   --timestamp URL         RFC 3161 time-stamp authority (optional; without
#                           one the signature ends with the certificate)
#   --ca FILE               roots to verify the result against (default: the
#                           system bundle, /etc/ssl/certs/ca-certificates.crt)
#   --engine FILE           another OpenSSL PKCS#11 engine (default: the
#                           "pkcs11" engine of libengine-pkcs11-openssl)
#
# Writes OUT only when signing and the verification succeed; prints the
# verification and the SHA-256 of IN and OUT. Secrets are passed to
# osslsigncode as files, never on its command line.
set -euo pipefail

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 64
}

module="" key="" cert="" chain="" pin_file="" pfx="" password_file="" timestamp=""
ca=/etc/ssl/certs/ca-certificates.crt
engine=""
while [ $# -gt 0 ]; do
  case "$1" in
    --pkcs11-module) module="$2"; shift 2 ;;
    --key) key="$2"; shift 2 ;;
    --cert) cert="$2"; shift 2 ;;
    --chain) chain="$2"; shift 2 ;;
    --pin-file) pin_file="$2"; shift 2 ;;
    --pfx) pfx="$2"; shift 2 ;;
    --password-file) password_file="$2"; shift 2 ;;
    --timestamp) timestamp="$2"; shift 2 ;;
    --ca) ca="$2"; shift 2 ;;
    --engine) engine="$2"; shift 2 ;;
    -h | --help) usage ;;
    -*) echo "sign: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || usage
in="$1" out="$2"
[ -f "$in" ] || { echo "sign: no file $in" >&2; exit 66; }

args=(sign -h sha256)
if [ -n "$module" ]; then
  if [ -z "$key" ] || [ -z "$pin_file" ]; then
    echo "sign: PKCS#11 needs --key and --pin-file" >&2
    exit 64
  fi
  [ -z "$pfx" ] || { echo "sign: --pfx and --pkcs11-module exclude each other" >&2; exit 64; }
  [ -n "$cert" ] || cert="$(sed -E 's/(;|:)type=private/\1type=cert/' <<<"$key")"
  if [ -n "$engine" ]; then args+=(-pkcs11engine "$engine"); fi
  args+=(-pkcs11module "$module" -key "$key" -readpass "$pin_file")
  if [[ "$cert" == pkcs11:* ]]; then args+=(-pkcs11cert "$cert"); else args+=(-certs "$cert"); fi
  if [ -n "$chain" ]; then args+=(-ac "$chain"); fi
elif [ -n "$pfx" ]; then
  [ -n "$password_file" ] || { echo "sign: --pfx needs --password-file" >&2; exit 64; }
  args+=(-pkcs12 "$pfx" -readpass "$password_file")
else
  echo "sign: give --pkcs11-module or --pfx" >&2
  usage
fi
if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi

# Signed next to OUT and renamed into place once verified: no half-signed
# or unverified file under the name that ships.
partial="$out.signing"
rm -f "$partial"
trap 'rm -f "$partial"' EXIT
if ! osslsigncode "${args[@]}" -in "$in" -out "$partial" >"$partial.log" 2>&1; then
  cat "$partial.log" >&2
  rm -f "$partial.log"
  echo "sign: signing failed" >&2
  exit 1
fi
rm -f "$partial.log"

verify=(verify -in "$partial" -CAfile "$ca")
if [ -n "$timestamp" ]; then verify+=(-TSA-CAfile "$ca"); fi
if ! osslsigncode "${verify[@]}"; then
  echo "sign: the signed file does not verify against $ca" >&2
  exit 1
fi
mv -f "$partial" "$out"
echo "sign: $(sha256sum "$in")"
echo "sign: $(sha256sum "$out")"
