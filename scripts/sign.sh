#!/usr/bin/env bash
# Signs a Windows executable with Authenticode (SHA-256) using osslsigncode; scripts/release.sh
# uses it for the product. The input is left as it is.
#
# usage: scripts/sign.sh [options] IN.exe OUT.exe
#   --cert FILE        the code-signing certificate, PEM or DER; in PEM, the chain up to the
#                      root may follow it in the same file         (env BIOSUPDATE_SIGN_CERT)
#   --key FILE         its private key, PEM or DER                 (env BIOSUPDATE_SIGN_KEY)
#   --pass-file FILE   a file holding the key's pass phrase        (env BIOSUPDATE_SIGN_PASS_FILE)
#   --ca FILE          the root to check the signature against afterwards; without it a
#                      supplied certificate's chain is not checked here (env BIOSUPDATE_SIGN_CA)
#   --timestamp URL    an RFC 3161 time-stamping service, so that the signature stays valid
#                      after the certificate expires              (env BIOSUPDATE_TIMESTAMP_URL)
#   --time SECONDS     the signing time to record (seconds since 1970), instead of now: with
#                      the same certificate and no time-stamping service, the same input then
#                      signs to the same file
# A .pfx/.p12 bundle splits into the two files with
#   openssl pkcs12 -in signer.pfx -nokeys -out cert.pem
#   openssl pkcs12 -in signer.pfx -nocerts -out key.pem
#
# Without a certificate and key it makes a throwaway self-signed test certificate on the spot,
# says so loudly, and keeps that certificate beside the output as OUT.throwaway-cert.pem (a
# test machine can trust it; nobody else will). Such a file is for testing only.
set -euo pipefail

readonly DIGEST=sha256
readonly DESCRIPTION="BIOS Update Program"
readonly THROWAWAY_SUBJECT="/CN=BIOSUpdate THROWAWAY TEST SIGNER - NOT FOR RELEASE"
readonly THROWAWAY_KEY_BITS=3072
readonly THROWAWAY_DAYS=30
readonly THROWAWAY_CERT_SUFFIX=.throwaway-cert.pem

usage() { sed -n '/^# usage:/,/^#$/p' "$0" | sed 's/^# \{0,1\}//' >&2; exit "$1"; }

cert=${BIOSUPDATE_SIGN_CERT:-}
key=${BIOSUPDATE_SIGN_KEY:-}
pass_file=${BIOSUPDATE_SIGN_PASS_FILE:-}
ca=${BIOSUPDATE_SIGN_CA:-}
timestamp_url=${BIOSUPDATE_TIMESTAMP_URL:-}
signing_time=""
args=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --pass-file) pass_file=$2; shift 2 ;;
    --ca) ca=$2; shift 2 ;;
    --timestamp) timestamp_url=$2; shift 2 ;;
    --time) signing_time=$2; shift 2 ;;
    -h|--help) usage 0 ;;
    -*) echo "sign.sh: unknown option $1" >&2; usage 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
[[ ${#args[@]} -eq 2 ]] || usage 2
in=${args[0]} out=${args[1]}
[[ -f $in ]] || { echo "sign.sh: $in does not exist" >&2; exit 1; }
if [[ -n $cert$key && ( -z $cert || -z $key ) ]]; then
  echo "sign.sh: give both the certificate and its key" >&2; exit 1
fi
for file in "$cert" "$key" "$pass_file" "$ca"; do
  [[ -z $file || -f $file ]] || { echo "sign.sh: $file does not exist" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ -z $cert ]]; then
  cert="$work/throwaway-cert.pem" key="$work/throwaway-key.pem"
  openssl req -x509 -newkey "rsa:$THROWAWAY_KEY_BITS" -nodes -days "$THROWAWAY_DAYS" \
    -subj "$THROWAWAY_SUBJECT" -keyout "$key" -out "$cert" \
    -addext "basicConstraints=critical,CA:FALSE" \
    -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>"$work/openssl.log" ||
    { cat "$work/openssl.log" >&2; exit 1; }
  ca="${out%.exe}$THROWAWAY_CERT_SUFFIX"
  cp "$cert" "$ca"
  cat >&2 <<EOF
************************************************************************************
*  NO CERTIFICATE GIVEN: signed with a THROWAWAY SELF-SIGNED TEST CERTIFICATE.     *
*  Windows will not trust this signature. Do NOT ship this file.                  *
*  For a release pass --cert and --key (or BIOSUPDATE_SIGN_CERT/_KEY).            *
************************************************************************************
The throwaway certificate is kept in $ca
EOF
fi

sign=(osslsigncode sign -certs "$cert" -key "$key" -h "$DIGEST" -n "$DESCRIPTION")
[[ -z $pass_file ]] || sign+=(-readpass "$pass_file")
[[ -z $timestamp_url ]] || sign+=(-ts "$timestamp_url")
[[ -z $signing_time ]] || sign+=(-time "$signing_time")
rm -f "$out"
"${sign[@]}" -in "$in" -out "$out" >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; exit 1; }
echo "Signed $out"

if [[ -n $ca ]]; then
  if ! osslsigncode verify -CAfile "$ca" -in "$out" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    echo "sign.sh: the new signature does not verify against $ca" >&2
    exit 1
  fi
  echo "The signature verifies against $ca"
else
  echo "The certificate chain was not checked (no --ca given)"
fi
