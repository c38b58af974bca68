#!/usr/bin/env bash
# Builds the product, BIOSUpdate.exe (32-bit), for a release and signs it with Authenticode.
#
# usage: scripts/release.sh [--cert FILE --key FILE] [--pass-file FILE] [--ca FILE]
#                           [--timestamp URL] [--flash-tool FILE [--tool-ca FILE]]
#                           [--capsule FILE]
#   --cert FILE        the code-signing certificate, PEM or DER; in PEM, the chain up to the
#                      root may follow it in the same file         (env BIOSUPDATE_SIGN_CERT)
#   --key FILE         its private key, PEM or DER                 (env BIOSUPDATE_SIGN_KEY)
#   --pass-file FILE   a file holding the key's pass phrase        (env BIOSUPDATE_SIGN_PASS_FILE)
#   --ca FILE          the root to check the new signature against (env BIOSUPDATE_SIGN_CA)
#   --timestamp URL    an RFC 3161 time-stamping service           (env BIOSUPDATE_TIMESTAMP_URL)
#   --flash-tool FILE  the vendor's WinFlash64.exe to embed instead of the stand-in; it must be
#                      a whole 64-bit console executable
#   --tool-ca FILE     the vendor's signing root: the flash tool's Authenticode signature must
#                      verify against it
#   --capsule FILE     the 47K31RB4.cap capsule to embed instead of the stand-in (checked)
#
# Without a certificate and key the product is signed with a throwaway self-signed test
# certificate made on the spot (see scripts/sign.sh); without --tool-ca nothing shows where the
# flash tool comes from. The script says so loudly in both cases, and such a file is for
# testing only. The supplied payloads are checked before the long build starts.
#
# It builds only what the product needs, from nothing each time, into RELEASE_DIR (default:
# build/release) and leaves there:
#   BIOSUpdate.exe             the signed product
#   BIOSUpdate.release.txt     what went in: the SHA-256 and size of the product and of each
#                              payload, the capsule's header, the flash tool's signer, the
#                              commit and whether the tree was clean; two releases of one
#                              commit with the same inputs write the same record
#   win32/BIOSUpdate.exe       the same file unsigned (two builds of one commit are identical)
#   win32/BIOSUpdate.debug.exe the unstripped link output, for reading crash addresses
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=verifier_reason.sh
source "$root/scripts/verifier_reason.sh"
readonly RELEASE_DIR=${RELEASE_DIR:-$root/build/release}
readonly UNSIGNED=$RELEASE_DIR/win32/BIOSUpdate.exe
readonly SIGNED=$RELEASE_DIR/BIOSUpdate.exe
readonly RECORD=$RELEASE_DIR/BIOSUpdate.release.txt
readonly PRODUCT_CACHE=$RELEASE_DIR/win32/CMakeCache.txt   # names the payloads it embedded
readonly CAPSULE_TOOL=$RELEASE_DIR/tools/capsule/capsule-tool
readonly THROWAWAY_CERT_SUFFIX=.throwaway-cert.pem   # what scripts/sign.sh leaves beside it
readonly FLASH_TOOL_RESOURCE="FILE 172" CAPSULE_RESOURCE="FILE 177"
readonly NOT_CHECKED="not checked"

sign_args=()
flash_tool="" capsule="" tool_ca=""
while [[ $# -gt 0 ]]; do
  case $1 in
    --cert|--key|--pass-file|--ca|--timestamp) sign_args+=("$1" "$2"); shift 2 ;;
    --flash-tool) flash_tool=$(realpath "$2"); shift 2 ;;
    --tool-ca) tool_ca=$(realpath "$2"); shift 2 ;;
    --capsule) capsule=$(realpath "$2"); shift 2 ;;
    -h|--help) sed -n '/^# usage:/,/^#$/p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 0 ;;
    *) echo "release.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [[ -n $tool_ca && -z $flash_tool ]]; then
  echo "release.sh: --tool-ca checks the tool given with --flash-tool; give both" >&2; exit 2
fi
for file in "$flash_tool" "$tool_ca" "$capsule"; do
  [[ -z $file || -f $file ]] || { echo "release.sh: $file does not exist" >&2; exit 1; }
done

# Prints the subject of the flash tool's signer when its signature verifies against the
# vendor's root; otherwise says in one line why not, and fails.
tool_signer() {  # tool_signer FILE
  local out reason
  if out=$(osslsigncode verify -CAfile "$tool_ca" -in "$1" 2>&1); then
    awk '/^Signer.s certificate:/ {on = 1}
         on && /Subject:/ {sub(/^[ \t]*Subject: */, ""); print; exit}' <<<"$out"
    return
  fi
  if grep -q 'No signature found' <<<"$out"; then
    reason="not signed (no Authenticode signature)"
  elif grep -q 'MISMATCH' <<<"$out"; then
    reason="signature does not match the file (message digest mismatch)"
  else
    reason="signature does not verify against $tool_ca: $(verifier_reason <<<"$out")"
  fi
  echo "release.sh: flash tool $1: $reason" >&2
  return 1
}

# The tree as the build will take it.
if commit=$(git -C "$root" rev-parse HEAD 2>/dev/null); then
  signing_time=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
  if [[ -z $(git -C "$root" status --porcelain) ]]; then tree=clean
  else tree="modified (uncommitted changes)"; fi
else
  commit="unknown (not a git checkout)" tree=unknown signing_time=${SOURCE_DATE_EPOCH:-}
fi
# The commit's time as the signing time, so that one certificate signs one product alike.
[[ -z $signing_time ]] || sign_args+=(--time "$signing_time")

if [[ -z $tool_ca ]]; then
  cat >&2 <<EOF
************************************************************************************
*  FLASH TOOL ORIGIN NOT CHECKED: no --tool-ca given, so nothing shows that the    *
*  embedded WinFlash64.exe comes from the BIOS vendor. Do NOT ship this file.     *
*  For a release pass the vendor's signing root with --tool-ca FILE.              *
************************************************************************************
EOF
fi

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
# The payloads first, which checks the supplied ones in seconds, then the flash tool's origin;
# only then the long build.
cmake --build "$RELEASE_DIR" --target payloads
signer=$NOT_CHECKED
[[ -z $tool_ca ]] || signer=$(tool_signer "$flash_tool") || exit 1
cmake --build "$RELEASE_DIR" --target win32

"$root/scripts/sign.sh" ${sign_args[@]+"${sign_args[@]}"} "$UNSIGNED" "$SIGNED"

# The record names the files the product was built from, as its build tree names them; the
# flash tool is verified once more as embedded, in case the supplied file changed meanwhile.
embedded() { sed -n "s/^BIOSUPDATE_$1:FILEPATH=//p" "$PRODUCT_CACHE"; }
embedded_tool=$(embedded FLASH_TOOL) embedded_capsule=$(embedded CAPSULE)
[[ -z $tool_ca ]] || signer=$(tool_signer "$embedded_tool") || exit 1
describe() {  # describe LABEL FILE
  echo "$1: sha256 $(sha256sum <"$2" | cut -d' ' -f1) size $(stat -c %s "$2")"
}
{
  describe "BIOSUpdate.exe" "$SIGNED"
  describe "BIOSUpdate.exe unsigned" "$UNSIGNED"
  describe "payload $FLASH_TOOL_RESOURCE $(basename "$embedded_tool")" "$embedded_tool"
  describe "payload $CAPSULE_RESOURCE $(basename "$embedded_capsule")" "$embedded_capsule"
  "$CAPSULE_TOOL" describe "$embedded_capsule" | sed 's/^/capsule /'
  echo "flash tool signer: $signer"
  echo "commit: $commit"
  echo "tree: $tree"
} >"$RECORD"
cat "$RECORD"

for_shipping=yes
if [[ -f ${SIGNED%.exe}$THROWAWAY_CERT_SUFFIX ]]; then
  echo "TEST-SIGNED ONLY (throwaway certificate), not for shipping: $SIGNED" >&2
  for_shipping=no
fi
if [[ -z $tool_ca ]]; then
  echo "FLASH TOOL ORIGIN NOT CHECKED, not for shipping: $SIGNED" >&2
  for_shipping=no
fi
[[ $for_shipping == no ]] || echo "Release: $SIGNED"
echo "Record: $RECORD"
