#!/usr/bin/env bash
# A release build embeds a supplied capsule only when its header is the carried image's and
# its firmware volume's header is sound: a good one is taken byte for byte, a damaged one stops
# the build with the reason.
# usage: supplied_capsule.sh SOURCE_DIR CAPSULE_TOOL
set -u
source_dir=$1 capsule_tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

"$capsule_tool" make "$work/good.cap"
cp "$work/good.cap" "$work/bad.cap"
# One bit of the volume's Attributes flipped, as a bad sector or a botched download would:
# only the volume header's checksum can tell.
printf '\xfe' | dd of="$work/bad.cap" bs=1 seek=124 conv=notrunc status=none

build_payloads() {  # build_payloads CAPSULE: configure a host tree and make only the payloads
  local dir="$work/build-$(basename "$1")"
  # Ninja, as in the main build: the default generator would need make, which the
  # project does not install.
  cmake -S "$source_dir" -B "$dir" -G Ninja -DBIOSUPDATE_WINDOWS_BUILDS=OFF \
        -DBIOSUPDATE_SUPPLIED_CAPSULE="$1" >"$dir.log" 2>&1 &&
    cmake --build "$dir" --target payloads >>"$dir.log" 2>&1
}

build_payloads "$work/good.cap"
check "good supplied capsule builds" "0" "$?"
check "good supplied capsule embedded unchanged" "same" \
  "$(cmp -s "$work/good.cap" "$work/build-good.cap/payload/47K31RB4.cap" && echo same)"

build_payloads "$work/bad.cap"
check "damaged supplied capsule stops the build" "1" "$([ $? -ne 0 ] && echo 1 || echo 0)"
check "the build says what is wrong" "1" \
  "$(grep -c "bad.cap: firmware volume Checksum is 0xE27E: the header's 16-bit words sum to 0xFFFF" "$work/build-bad.cap.log")"
check "no payload is left from the refused capsule" "absent" \
  "$([ -e "$work/build-bad.cap/payload/47K31RB4.cap" ] && echo present || echo absent)"

tally
