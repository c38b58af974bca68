#!/usr/bin/env bash
# Runs scripts/release.sh with stand-in flash tools: a damaged, a 32-bit, a GUI and an unsigned
# one, and one signed under a throwaway CA but checked against another, are each refused with
# their own message before the long build starts; one checked against its own CA passes, and the
# release's record names the files read back from the product.
# usage: release.sh SOURCE_DIR FLASH_TOOL RES_LIST
set -u
readonly SOURCE_DIR=$1 FLASH_TOOL=$2 RES_LIST=$3
readonly RELEASE=$SOURCE_DIR/scripts/release.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# shellcheck source=throwaway_ca.sh
source "$(dirname "$0")/throwaway_ca.sh"
make_throwaway_cas "$work"
check "throwaway certificates made" 0 "$?"
sign() {  # sign IN OUT
  osslsigncode sign -certs "$work/signer.pem" -key "$work/signer.key" -h sha256 \
    -in "$1" -out "$2" >/dev/null
}

# The stand-ins: the stand-in flash tool as built and signed, cut in half, and a 32-bit and a
# GUI build of an empty program.
echo 'int main(void) { return 0; }' >"$work/empty.c"
i686-w64-mingw32-gcc -o "$work/32-bit.exe" "$work/empty.c" &&
x86_64-w64-mingw32-gcc -mwindows -o "$work/gui.exe" "$work/empty.c" &&
sign "$work/gui.exe" "$work/gui-signed.exe" &&
sign "$FLASH_TOOL" "$work/signed.exe" &&
half=$(( $(stat -c %s "$work/signed.exe") / 2 )) &&
head -c "$half" "$work/signed.exe" >"$work/damaged.exe"
check "stand-in tools made" 0 "$?"

release() {  # release NAME ARGS...: runs a release into its own folder, output in NAME.log
  local name=$1
  shift
  RELEASE_DIR=$work/$name bash "$RELEASE" "$@" >"$work/$name.log" 2>&1
}

# Each refusal: a failed release, the reason in a line of its own, and no product build begun.
refused() {  # refused NAME LINE_PATTERN ARGS...
  local name=$1 line=$2
  shift 2
  release "$name" "$@"
  check "$name: refused" refused "$([ $? -ne 0 ] && echo refused || echo accepted)"
  check "$name: says why" 1 "$(grep -cxE -- "$line" "$work/$name.log")"
  check "$name: before the product's build" "not begun" \
    "$([ -e "$work/$name/win32/CMakeCache.txt" ] && echo begun || echo "not begun")"
}
refused damaged "flash tool $work/damaged.exe: truncated: section [^ ]+ ends at byte [0-9]+ but the file has $half bytes" \
  --flash-tool "$work/damaged.exe" --tool-ca "$work/ca.pem"
refused 32-bit "flash tool $work/32-bit.exe: machine is 0x014C, expected 0x8664 \(AMD64\)" \
  --flash-tool "$work/32-bit.exe"
check "32-bit: origin not checked, said loudly" 1 \
  "$(grep -c '^\*  FLASH TOOL ORIGIN NOT CHECKED' "$work/32-bit.log")"
refused gui "flash tool $work/gui-signed.exe: subsystem is 2 \(Windows GUI\), expected 3 \(Windows console\)" \
  --flash-tool "$work/gui-signed.exe" --tool-ca "$work/ca.pem"
refused unsigned "release.sh: flash tool $FLASH_TOOL: not signed \(no Authenticode signature\)" \
  --flash-tool "$FLASH_TOOL" --tool-ca "$work/ca.pem"
refused foreign-signer "release.sh: flash tool $work/signed.exe: signature does not verify against $work/other-ca.pem: unable to get local issuer certificate" \
  --flash-tool "$work/signed.exe" --tool-ca "$work/other-ca.pem"

# The reason read from either osslsigncode's wording of a refused chain (2.9 prints the first
# line below, Debian 12's 2.5 the second, as seen with the same signed tool and another root).
# shellcheck source=../../scripts/verifier_reason.sh
source "$SOURCE_DIR/scripts/verifier_reason.sh"
while IFS='|' read -r wording out expected; do
  check "reason from $wording" "$expected" "$(printf '%b\n' "$out" | verifier_reason)"
done <<'WORDINGS'
osslsigncode 2.9|\tError: unable to get local issuer certificate\nPKCS7_verify error|unable to get local issuer certificate
osslsigncode 2.5|PKCS7_verify error\n40491611447F0000:error:10800075:PKCS7 routines:PKCS7_verify:certificate verify error:../crypto/pkcs7/pk7_smime.c:292:Verify error: unable to get local issuer certificate|unable to get local issuer certificate
no reason given|PKCS7_verify error\nFailed|the verifier gave no reason
WORDINGS

# Checked against its own CA: the release goes through, and its record tells what went in.
release good --flash-tool "$work/signed.exe" --tool-ca "$work/ca.pem"
check "own CA: released" 0 "$?"
check "own CA: origin checked" 0 "$(grep -c 'ORIGIN NOT CHECKED' "$work/good.log")"
product=$work/good/BIOSUpdate.exe
i686-w64-mingw32-windres -i "$product" -O res -o "$work/product.res"
"$RES_LIST" "$work/product.res" --dump '"FILE"' 172 "$work/172"
"$RES_LIST" "$work/product.res" --dump '"FILE"' 177 "$work/177"
check "the product embeds the signed tool" same "$(cmp -s "$work/172" "$work/signed.exe" && echo same)"
line() {  # line LABEL FILE: the record's line for FILE as computed here
  echo "$1: sha256 $(sha256sum <"$2" | cut -d' ' -f1) size $(stat -c %s "$2")"
}
if [ "$(git -C "$SOURCE_DIR" status --porcelain)" == "" ]; then tree=clean
else tree="modified (uncommitted changes)"; fi
check "the record" "$(line BIOSUpdate.exe "$product")
$(line "BIOSUpdate.exe unsigned" "$work/good/win32/BIOSUpdate.exe")
$(line "payload FILE 172 WinFlash64.exe" "$work/172")
$(line "payload FILE 177 47K31RB4.cap" "$work/177")
capsule GUID: 3B6686BD-0D76-4030-B70E-B5519E2FC5A0
capsule HeaderSize: 80
capsule Flags: 0x00010000
capsule CapsuleImageSize: 4259920
flash tool signer: $THROWAWAY_SIGNER
commit: $(git -C "$SOURCE_DIR" rev-parse HEAD)
tree: $tree" "$(cat "$work/good/BIOSUpdate.release.txt" 2>&1)"

tally
