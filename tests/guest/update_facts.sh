#!/usr/bin/env bash
# One update run, answered Yes, watched from outside as the twin's Wine checks watch it, on the
# BIOS version of the guest's firmware tables. Writes what it saw to OUT_DIR/facts (name=value,
# one a line) and screenshots of the question and of the flashing screen beside it; check.sh
# says what each should be. While the flash tool runs: the working folder's files and their
# SHA-256, the screen, and which of a sequence of keys and clicks sent by another program get
# past the updater's input lock (input_probe's own hooks count them); after the run the same
# inputs once more.
#
# Usage: update_facts.sh STATE_DIR UPDATER_EXE WINTEST_EXE OUT_DIR INPUT_PROBE_EXE
source "$(dirname "$0")/../wine/common.sh"
source "$here/fixtures.sh"
out_dir=$4
probe_exe=$5

readonly MARKER_KEY='HKU\.DEFAULT\Software\NRVK\BIOSUPDATE\Parameters'
readonly COMPANION_WIN="C:\\$PROGRAM_FILES\\Norvik Software\\Quilden\\Brindle.exe"
readonly FLASH_TOOL_IMAGE=WinFlash64.exe
readonly FLASH_LOG="$WINEPREFIX/drive_c/fixture-logs/winflash.log"
# Long enough for the folder to be read, two screenshots and the inputs twice while the tool runs.
readonly FLASH_TOOL_RUN_MS=60000
readonly FLASH_SETTLE_S=15
readonly POLL_S=0.2
readonly WATCH_CLASS=InputProbeWatch WATCH_CAPTION='input probe' WATCH_SECONDS=1200
readonly WM_CLOSE=0x0010
# Enter, Escape, F10, Alt+Tab, a letter; every mouse button, the wheel and a move.
readonly INPUTS=(
  key-down:0D key-up:0D key-down:1B key-up:1B key-down:79 key-up:79
  key-down:12 key-down:09 key-up:09 key-up:12 key-down:41 key-up:41
  left-down left-up right-down right-up middle-down middle-up x-down x-up wheel move
)
export WINFLASH_LOG='C:\fixture-logs\winflash.log' WINFLASH_DELAY_MS=$FLASH_TOOL_RUN_MS
# Seen in both files' runs: the tool's console drawn above the covering window for good (Wine's
# X stacking, see flash_tool.cpp), so that the screenshots showed the console.
export WINFLASH_HIDE_CONSOLE=1
# Under emulation the tool's first line can come seconds after its process exists.
readonly CONSOLE_HIDDEN_WAIT_S=30

facts=$out_dir/facts
: >"$facts"
fact() { printf '%s=%s\n' "$1" "$(tr -d '\r' <<<"$2" | paste -sd '#')" >>"$facts"; }
report_file=$(mktemp)
watch_file=$WINE_STATE_DIR/input-watch.txt

marker() { wine_exec reg query "$MARKER_KEY" /v Version 2>/dev/null | tr -d '\r' | sed -n 's/^ *Version *//p'; }
program_running() { kill -0 "$program_pid" 2>/dev/null; }
# Every Wine program is a process of the guest's Linux: seen there, no Windows program needs
# to start to look for one. Only this prefix's count; the other updater runs beside it.
prefix_processes() {  # prefix_processes PATTERN: how many of this prefix's processes match
  local pid count=0
  for pid in $(pgrep -f "$1"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      count=$((count + 1))
  done
  echo "$count"
}
flash_tool_running() { (($(prefix_processes "$FLASH_TOOL_IMAGE") > 0)); }
companion_count() { prefix_processes 'Brindle\.exe'; }
probe() { wine_exec "$probe_exe" "$@"; }
start_watch() {
  rm -f "$watch_file"
  probe watch "$WATCH_SECONDS" "$(wine_win_path "$watch_file")" >/dev/null 2>&1 &
  watch_pid=$!
  local polls=$((WAIT_MS / 200))
  until grep -q '^ready' "$watch_file" 2>/dev/null; do
    ((polls-- > 0)) || return 1
    sleep "$POLL_S"
  done
}
# Sends every input; the names of those that reached the probe's hooks, in order.
inject_and_collect() {
  local before
  before=$(wc -l <"$watch_file")
  probe inject "${INPUTS[@]}" >/dev/null 2>&1 || echo "input_probe inject failed" >&2
  tail -n +"$((before + 1))" "$watch_file" | tr -d '\r' | awk '$3 == "probe" { print $1 }'
}

fixtures_install || { fact fixtures failed; exit 1; }
brindle_install "$COMPANION_WIN" && fixtures_reset && brindle_start "$COMPANION_WIN" ||
  { fact fixtures failed; exit 1; }
fact fixtures ok
fact bios "$(cat /sys/class/dmi/id/bios_version)"
fact policies_before "$(power_policy_triples)"
fact companion_before "$(companion_count)"
start_watch && fact input_watch ready || fact input_watch "not ready"

start_program "$report_file"
if wait_question; then
  fact question shown
  fact question_hex "$(question_hex)"
  fact question_buttons "$(wine_driver buttons "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION")"
  fact question_icon "$(wine_driver icon "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION")"
  wine_driver screenshot "$(wine_win_path "$out_dir/question.bmp")" >/dev/null
  answer_question "$IDYES"
else
  fact question missing
fi

while program_running && ! flash_tool_running; do sleep "$POLL_S"; done
if flash_tool_running; then
  fact flash_tool_seen yes
  fact work_files "$(cd "$WORK_DIR" 2>/dev/null && ls)"
  fact tool_sha256 "$(sha256sum <"$WORK_DIR/WinFlash64.exe" | cut -d' ' -f1)"
  fact capsule_sha256 "$(sha256sum <"$WORK_DIR/47K31RB4.cap" | cut -d' ' -f1)"
  # The stand-in hides its console at its first line; until then, under Wine without a window
  # manager, the console may be drawn over the updater. The first look waits for that.
  console_deadline=$(($(date +%s) + CONSOLE_HIDDEN_WAIT_S))
  while wine_driver list-windows 2>/dev/null | grep -q 'WinFlash64\.exe' && (($(date +%s) < console_deadline)); do
    sleep "$POLL_S"
  done
  wine_driver screenshot "$(wine_win_path "$out_dir/flash-start.bmp")" >/dev/null
  [[ -f $watch_file ]] && fact inputs_locked_at_start "$(inject_and_collect)"
  fact companion_during "$(companion_count)"
  fact policies_during "$(power_policy_triples)"
  # Once the tool has run a while, the same again: what is still there then is no moment's
  # hiccup of a slow machine.
  sleep "$FLASH_SETTLE_S"
  wine_driver screenshot "$(wine_win_path "$out_dir/flash.bmp")" >/dev/null
  fact window "$(wine_driver window-info '#32770' 'BIOS Update Program')"
  fact windows_during "$(wine_driver list-windows)"
  [[ -f $watch_file ]] && fact inputs_locked "$(inject_and_collect)"
  fact flash_tool_still_running "$(flash_tool_running && echo yes || echo no)"
else
  fact flash_tool_seen no
  ps -eo pid,args >&2
fi
wait_program
fact exit "$(report_field exit "$(cat "$report_file")")"
fact windows "$(report_field windows "$(cat "$report_file")")"
fact flash_log "$(cat "$FLASH_LOG" 2>/dev/null)"
fact runs "$(fixture_log runs)"
fact powrprof "$(fixture_log powrprof)"
fact brindle "$(fixture_log brindle)"
fact policies_after "$(power_policy_triples)"
fact marker "$(marker)"
fact companion_after "$(settled 1 companion_count)"
# Wine's console host for the flash tool's console may hold the folder a moment longer.
[[ -e $WORK_DIR ]] && sleep 2
fact work_dir_after "$(exists "$WORK_DIR")"
[[ -f $watch_file ]] && fact inputs_released "$(inject_and_collect)"
probe post "$WATCH_CLASS" "$WATCH_CAPTION" "$WM_CLOSE" 0 0 >/dev/null 2>&1
wait "$watch_pid"
rm -f "$report_file"
cat "$facts"
