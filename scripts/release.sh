#!/usr/bin/env bash
# Builds the product, BIOSUpdate.exe (32-bit), for a release and signs it with Authenticode.
#
# usage: scripts/release.sh [--cert FILE --key FILE] [--pass-file FILE] [--ca FILE]
#                           [--timestamp URL] [--flash-tool FILE] [--capsule FILE]
#   --cert FILE        the code-signing certificate, PEM or DER; in PEM, the chain up to the
#                      root may follow it in the same file         (env BIOSUPDATE_SIGN_CERT)
#   --key FILE         its private key, PEM or DER                 (env BIOSUPDATE_SIGN_KEY)
#   --pass-file FILE   a file holding the key's pass phrase        (env BIOSUPDATE_SIGN_PASS_FILE)
#   --ca FILE          the root to check the new signature against (env BIOSUPDATE_SIGN_CA)
#   --timestamp URL    an RFC 3161 time-stamping service           (env BIOSUPDATE_TIMESTAMP_URL)
#   --flash-tool FILE  the vendor's WinFlash64.exe to embed instead of the stand-in
#   --capsule FILE     the 47K31RB4.cap capsule to embed instead of the stand-in (checked)
#
# Without a certificate and key the product is signed with a throwaway self-signed test
# certificate made on the spot (see scripts/sign.sh); the script says so loudly, and the file
# is for testing only.
#
# It builds only what the product needs, from nothing each time, into RELEASE_DIR (default:
# build/release) and leaves there:
#   BIOSUpdate.exe             the signed product
#   win32/BIOSUpdate.exe       the same file unsigned (two builds of one commit are identical)
#   win32/BIOSUpdate.debug.exe the unstripped link output, for reading crash addresses
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readonly RELEASE_DIR=${RELEASE_DIR:-$root/build/release}
readonly UNSIGNED=$RELEASE_DIR/win32/BIOSUpdate.exe
readonly SIGNED=$RELEASE_DIR/BIOSUpdate.exe
readonly THROWAWAY_CERT_SUFFIX=.throwaway-cert.pem   # what scripts/sign.sh leaves beside it

sign_args=()
flash_tool="" capsule=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --cert|--key|--pass-file|--ca|--timestamp) sign_args+=("$1" "$2"); shift 2 ;;
    --flash-tool) flash_tool=$(realpath "$2"); shift 2 ;;
    --capsule) capsule=$(realpath "$2"); shift 2 ;;
    -h|--help) sed -n '/^# usage:/,/^#$/p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 0 ;;
    *) echo "release.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done

"$root/scripts/install-deps.sh"
# From nothing: a release never picks up a stale object or an earlier run's payloads. Only a
# folder that is new or an earlier build tree is emptied.
if [[ -e $RELEASE_DIR && ! -f $RELEASE_DIR/CMakeCache.txt ]]; then
  echo "release.sh: $RELEASE_DIR exists and is no build tree; not emptying it" >&2; exit 1
fi
rm -rf "$RELEASE_DIR"
cmake -S "$root" -B "$RELEASE_DIR" -G Ninja -DBIOSUPDATE_PRODUCT_ONLY=ON \
      "-DBIOSUPDATE_SUPPLIED_FLASH_TOOL=$flash_tool" \
      "-DBIOSUPDATE_SUPPLIED_CAPSULE=$capsule" >/dev/null
cmake --build "$RELEASE_DIR" --target win32

"$root/scripts/sign.sh" ${sign_args[@]+"${sign_args[@]}"} "$UNSIGNED" "$SIGNED"
sha256sum "$SIGNED" "$UNSIGNED"
if [[ -f ${SIGNED%.exe}$THROWAWAY_CERT_SUFFIX ]]; then
  echo "TEST-SIGNED ONLY (throwaway certificate), not for shipping: $SIGNED" >&2
else
  echo "Release: $SIGNED"
fi
