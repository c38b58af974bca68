#!/usr/bin/env bash
# Signs copies of the product the way scripts/release.sh does (scripts/sign.sh), with a
# certificate issued by a throwaway CA and with the script's own throwaway certificate, checks
# the signatures with osslsigncode against those roots, checks that a given signing time makes
# signing repeatable, and shows that one byte changed inside the embedded capsule, anywhere in
# it, breaks the signature.
# usage: signature.sh PRODUCT.exe CAPSULE SIGN_SCRIPT
set -u
readonly PRODUCT=$1 CAPSULE=$2 SIGN=$3
# The capsule's GUID 3B6686BD-0D76-4030-B70E-B5519E2FC5A0 as it lies in the file.
readonly CAPSULE_GUID_BYTES='\xBD\x86\x66\x3B\x76\x0D\x30\x40\xB7\x0E\xB5\x51\x9E\x2F\xC5\xA0'
readonly BYTE_MASK=255   # a flipped byte: every bit inverted
readonly SIGNING_TIME=1700000000

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# shellcheck source=throwaway_ca.sh
source "$(dirname "$0")/throwaway_ca.sh"
make_throwaway_cas "$work"
check "throwaway certificates made" 0 "$?"

# What osslsigncode verify says of FILE against the root CA_FILE, in a word or two.
verdict() {  # verdict FILE CA_FILE
  local out
  out=$(osslsigncode verify -CAfile "$2" -in "$1" 2>&1) && { echo ok; return; }
  if grep -q 'message digest.*MISMATCH' <<<"$out"; then echo "digest mismatch"
  elif grep -qi 'verify error' <<<"$out"; then echo "chain not trusted"
  else echo "failed: $(grep -v '^\s*$' <<<"$out" | tail -n 1)"; fi
}

cp "$PRODUCT" "$work/product.exe"
"$SIGN" --cert "$work/signer.pem" --key "$work/signer.key" --ca "$work/ca.pem" \
  "$work/product.exe" "$work/signed.exe" >"$work/sign.log" 2>&1
check "signing with a supplied certificate succeeds" 0 "$?"
check "input left unsigned" same "$(cmp -s "$PRODUCT" "$work/product.exe" && echo same)"
check "signature verifies against its CA" ok "$(verdict "$work/signed.exe" "$work/ca.pem")"
check "signature does not verify against another CA" "chain not trusted" \
  "$(verdict "$work/signed.exe" "$work/other-ca.pem")"
# With a signing time given, the same input and certificate sign alike, a second apart.
for copy in 1 2; do
  [ "$copy" == 1 ] || sleep 1
  "$SIGN" --cert "$work/signer.pem" --key "$work/signer.key" --time "$SIGNING_TIME" \
    "$work/product.exe" "$work/timed-$copy.exe" >/dev/null 2>&1
done
check "same signing time: same signed file" same \
  "$(cmp -s "$work/timed-1.exe" "$work/timed-2.exe" && echo same)"

# The capsule inside the signed file: the place of its GUID where the whole capsule follows
# (the GUID also appears elsewhere, e.g. in the stand-in flash tool).
capsule_size=$(stat -c %s "$CAPSULE")
capsule_at=""
while read -r offset; do
  if cmp -s -n "$capsule_size" -i "$offset:0" "$work/signed.exe" "$CAPSULE"; then
    capsule_at=$offset
  fi
done < <(LC_ALL=C grep -obUaP "$CAPSULE_GUID_BYTES" "$work/signed.exe" | cut -d: -f1)
check "capsule found whole in the signed file" found "${capsule_at:+found}"

flip() {  # flip FILE OFFSET: inverts one byte in place
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf %b "\\$(printf %03o $((byte ^ BYTE_MASK)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
if [ -n "$capsule_at" ]; then
  while read -r place within; do
    cp "$work/signed.exe" "$work/tampered.exe"
    flip "$work/tampered.exe" $((capsule_at + within))
    check "capsule's $place byte flipped: file differs" differs \
      "$(cmp -s "$work/signed.exe" "$work/tampered.exe" || echo differs)"
    check "capsule's $place byte flipped: signature fails" "digest mismatch" \
      "$(verdict "$work/tampered.exe" "$work/ca.pem")"
  done <<EOF
first 0
middle $((capsule_size / 2))
last $((capsule_size - 1))
EOF
fi

# Without a certificate: the throwaway self-signed one, announced, and kept for verifying.
"$SIGN" "$work/product.exe" "$work/test-signed.exe" >"$work/throwaway.log" 2>&1
check "signing without a certificate succeeds" 0 "$?"
check "signing without a certificate warns" 1 \
  "$(grep -c 'THROWAWAY SELF-SIGNED TEST CERTIFICATE' "$work/throwaway.log")"
check "throwaway signature verifies against its certificate" ok \
  "$(verdict "$work/test-signed.exe" "$work/test-signed.throwaway-cert.pem")"
check "throwaway signature does not verify against another CA" "chain not trusted" \
  "$(verdict "$work/test-signed.exe" "$work/other-ca.pem")"

tally
