#!/usr/bin/env bash
# Builds the product twice from this source tree, each time from nothing, into two folders of
# different names and depths, a few seconds apart, under different time zones, locales and
# umasks and never with SOURCE_DATE_EPOCH, and checks that the two executables are the same
# byte for byte. Only what the product needs is built (BIOSUPDATE_PRODUCT_ONLY).
# usage: reproducible.sh SOURCE_DIR
set -u
readonly SOURCE_DIR=$1
# Long enough that any time stamp written into the second build differs from the first's.
readonly PAUSE_SECONDS=2
readonly PRODUCT=win32/BIOSUpdate.exe
readonly FLASH_TOOL=win64/tools/capsule/WinFlash64.exe   # the stand-in the product embeds
readonly PRODUCT_OBJDUMP=i686-w64-mingw32-objdump
readonly FLASH_TOOL_OBJDUMP=x86_64-w64-mingw32-objdump

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
readonly FIRST="$work/first"
readonly SECOND="$work/the/second/build"

# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

build() {  # build DIR TZ LOCALE UMASK: prints the exit status and the seconds taken
  local dir=$1 start=$SECONDS status
  mkdir -p "$(dirname "$dir")"
  (
    umask "$4"
    export TZ=$2 LC_ALL=$3
    unset SOURCE_DATE_EPOCH
    cmake -S "$SOURCE_DIR" -B "$dir" -G Ninja -DBIOSUPDATE_PRODUCT_ONLY=ON &&
      cmake --build "$dir" --target win32
  ) >"$dir.log" 2>&1
  status=$?
  [ "$status" -eq 0 ] || tail -n 30 "$dir.log" >&2
  echo "$status $((SECONDS - start))"
}

# Where two files part: the first differing byte and the PE section holding it.
difference() {  # difference FILE_A FILE_B OBJDUMP
  local at section
  [[ -f $1 && -f $2 ]] || { echo "not built"; return; }
  cmp -s "$1" "$2" && { echo identical; return; }
  [ "$(stat -c %s "$1")" == "$(stat -c %s "$2")" ] ||
    { echo "sizes $(stat -c %s "$1") and $(stat -c %s "$2")"; return; }
  at=$(cmp "$1" "$2" | awk '{print $5 - 1}' | tr -d ,)
  section=$("$3" -h "$1" | while read -r _ name size _ _ offset _; do
    [[ $offset =~ ^[0-9a-f]{8}$ && $offset != 00000000 ]] || continue
    (( at >= 0x$offset && at < 0x$offset + 0x$size )) && echo "$name"
  done)
  echo "first difference at byte $at (${section:-outside the sections})"
}

read -r status seconds < <(build "$FIRST" UTC0 C 022)
check "first build succeeds" 0 "$status"
echo "first build: ${seconds} s"
sleep "$PAUSE_SECONDS"
read -r status seconds < <(build "$SECOND" KST-9 C.UTF-8 077)
check "second build succeeds" 0 "$status"
echo "second build: ${seconds} s"

while read -r file objdump; do
  check "$file is the same in both builds" identical \
        "$(difference "$FIRST/$file" "$SECOND/$file" "$objdump")"
done <<EOF
$FLASH_TOOL $FLASH_TOOL_OBJDUMP
$PRODUCT $PRODUCT_OBJDUMP
EOF
for dir in "$FIRST" "$SECOND"; do
  check "$dir/$PRODUCT names no build folder" 0 \
        "$(grep -c -a -F -e "$FIRST" -e "$SECOND" "$dir/$PRODUCT")"
done

tally
