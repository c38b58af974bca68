#!/usr/bin/env bash
# Runs once inside the guest while its image is made: the two Wine prefixes every later run
# starts from, made side by side (wineboot takes minutes under emulation). A 64-bit one, in
# which 32-bit programs run as on 64-bit Windows (WoW64), and a 32-bit one, a 32-bit Windows.
set -uo pipefail
# The Wine suite's own ways to start Xvfb and to reach Wine's loaders, staged beside this script.
source "$(dirname "$0")/lib.sh"
readonly PREFIXES=/opt/wine
export WINEDEBUG=-all
# No Mono or Gecko: nothing run here needs them, and their installers would open dialogs.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# An emulated machine starts Xvfb slowly.
WINE_XVFB_WAIT_S=30
wine_xvfb_start /tmp/bake-xvfb || exit 1
export DISPLAY=$WINE_XVFB_DISPLAY

# make_prefix NAME WINEARCH LOADER
make_prefix() {
  local prefix=$PREFIXES/$1 start=$SECONDS
  export WINEPREFIX=$prefix WINEARCH=$2
  "$3" wineboot -i </dev/null || { echo "wineboot -i failed for $1"; return 1; }
  # Windows Wine draws itself, caption included, as on Windows: there is no window manager.
  "$3" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null ||
    { echo "reg add failed for $1"; return 1; }
  "$WINE_SERVER_BIN" -w
  echo "prefix $1 ($2) made in $((SECONDS - start)) s"
}

mkdir -p "$PREFIXES"
make_prefix wow64 win64 "$WINE_LOADER_BIN" &
wow64=$!
make_prefix win32 win32 "$WINE_LOADER_BIN_32" &
win32=$!
status=0
wait "$wow64" || status=1
wait "$win32" || status=1
[[ -d $PREFIXES/wow64/drive_c/windows/syswow64 ]] || { echo "the 64-bit prefix has no syswow64"; status=1; }
du -sh "$PREFIXES"/*
exit "$status"
