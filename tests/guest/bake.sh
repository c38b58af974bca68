#!/usr/bin/env bash
# Runs once inside the guest while its image is made: the two Wine prefixes every later run
# starts from, made side by side (wineboot takes minutes under emulation). A 64-bit one, in
# which 32-bit programs run as on 64-bit Windows (WoW64), and a 32-bit one, a 32-bit Windows.
set -uo pipefail
readonly PREFIXES=/opt/wine
readonly DISPLAY_NUMBER=1
readonly XVFB_WAIT_S=30
export WINEDEBUG=-all DISPLAY=:$DISPLAY_NUMBER
# No Mono or Gecko: nothing run here needs them, and their installers would open dialogs.
export WINEDLLOVERRIDES="mscoree=;mshtml="

Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
for ((i = 0; i < XVFB_WAIT_S * 10; i++)); do
  [[ -S /tmp/.X11-unix/X$DISPLAY_NUMBER ]] && break
  sleep 0.1
done

# make_prefix NAME WINEARCH LOADER
make_prefix() {
  local prefix=$PREFIXES/$1 start=$SECONDS
  export WINEPREFIX=$prefix WINEARCH=$2
  "$3" wineboot -i </dev/null || { echo "wineboot -i failed for $1"; return 1; }
  # Windows Wine draws itself, caption included, as on Windows: there is no window manager.
  "$3" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null ||
    { echo "reg add failed for $1"; return 1; }
  /usr/lib/wine/wineserver64 -w
  echo "prefix $1 ($2) made in $((SECONDS - start)) s"
}

mkdir -p "$PREFIXES"
make_prefix wow64 win64 /usr/lib/wine/wine64 &
wow64=$!
make_prefix win32 win32 /usr/lib/wine/wine &
win32=$!
status=0
wait "$wow64" || status=1
wait "$win32" || status=1
[[ -d $PREFIXES/wow64/drive_c/windows/syswow64 ]] || { echo "the 64-bit prefix has no syswow64"; status=1; }
du -sh "$PREFIXES"/*
exit "$status"
