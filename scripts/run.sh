#!/usr/bin/env bash
# Builds BIOSUpdate.exe and runs its 64-bit twin under Wine in a private prefix.
#
# With a screen ($DISPLAY reachable) the updater appears there and you answer it yourself.
# Without one it runs on a private Xvfb screen: the question is answered by the test driver
# (--answer yes|no, default yes) and screenshots go to SCREENSHOT_DIR (default
# build/screenshots) every half second until the updater ends.
#   --korean   run on a Korean system (language and locale 0x412, code page 949)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
answer=yes
korean=no
while [[ $# -gt 0 ]]; do
  case "$1" in
    --answer) answer=$2; shift 2 ;;
    --korean) korean=yes; shift ;;
    *) echo "usage: run.sh [--answer yes|no] [--korean]" >&2; exit 2 ;;
  esac
done
readonly SHOT_INTERVAL_S=0.5
readonly RUN_LIMIT_S=${RUN_LIMIT_S:-900}
readonly IDYES=6 IDNO=7

"$root/scripts/build.sh"
source "$root/tests/wine/lib.sh"

user_display=${DISPLAY:-}
state=$(mktemp -d /tmp/biosupdate-run.XXXXXX)
trap 'wine_prefix_destroy "$state"' EXIT
echo "Making a private Wine prefix in $state ..."
wine_prefix_create "$state"
export WINTEST_EXE=$build_dir/win64/tools/wintest/wintest.exe
[[ $korean == yes ]] && wine_locale ko_KR.UTF-8

program_dir="$WINEPREFIX/drive_c/users/Public/Downloads"
mkdir -p "$program_dir"
cp "$build_dir/win64/BIOSUpdate.exe" "$program_dir/"

display_number=${user_display#*:}
display_number=${display_number%%.*}
if [[ -n "$user_display" && -S /tmp/.X11-unix/X$display_number ]]; then
  export DISPLAY=$user_display
  echo "Running BIOSUpdate.exe on $DISPLAY; answer it there."
  (cd "$program_dir" && wine_exec BIOSUpdate.exe) || true
  exit 0
fi

shots=${SCREENSHOT_DIR:-$build_dir/screenshots}
mkdir -p "$shots"
rm -f "$shots"/*.png
echo "No screen: running on Xvfb $DISPLAY, screenshots in $shots"
(cd "$program_dir" && wine_exec BIOSUpdate.exe) &
program=$!

n=0
shoot() {
  local name
  name=$(printf '%s/%04d.png' "$shots" "$n")
  wine_driver screenshot 'C:\users\Public\shot.bmp' >/dev/null 2>&1 &&
    convert "$WINEPREFIX/drive_c/users/Public/shot.bmp" "$name" 2>/dev/null && n=$((n + 1))
}
answered=no
start=$SECONDS
while kill -0 "$program" 2>/dev/null && ((SECONDS - start < RUN_LIMIT_S)); do
  shoot
  if [[ $answered == no ]] && wine_driver wait-window '#32770' 'BIOS update' 0 >/dev/null 2>&1; then
    shoot
    id=$IDYES
    [[ $answer == no ]] && id=$IDNO
    echo "Answering the question: $answer"
    wine_driver click '#32770' 'BIOS update' "$id" >/dev/null 2>&1 || true
    answered=yes
  fi
  sleep "$SHOT_INTERVAL_S"
done
if kill -0 "$program" 2>/dev/null; then
  echo "BIOSUpdate.exe still running after ${RUN_LIMIT_S} s: stopping it"
  kill "$program"
fi
wait "$program" && code=0 || code=$?
shoot
echo "BIOSUpdate.exe ended with exit code $code; $n screenshots in $shots"
