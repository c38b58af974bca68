#!/usr/bin/env bash
# One update run, answered Yes, watched from outside as the twin's Wine checks watch it, on the
# BIOS version of the guest's firmware tables. Writes what it saw to OUT_DIR/facts (name=value,
# one a line) and screenshots of the question and of the flashing screen beside it; check.sh
# says what each should be. While the flash tool runs: the working folder's files and their
# SHA-256, the screen, and which of a sequence of keys and clicks sent by another program get
# past the updater's input lock (input_probe's hooks and its window); the same once the screen is
# covered, once the finish has undone the lock while the updater still runs (the stand-in
# shutdown.exe holds the restart command it waits for), and after the run. The window's status texts come from Wine's trace of its text calls.
#
# Usage: update_facts.sh STATE_DIR UPDATER_EXE WINTEST_EXE OUT_DIR INPUT_PROBE_EXE
source "$(dirname "$0")/../wine/common.sh"
source "$here/fixtures.sh"
out_dir=$4
probe_exe=$5

readonly COMPANION_WIN="C:\\$PROGRAM_FILES\\Norvik Software\\Quilden\\Brindle.exe"
# The stand-in flash tool runs until this script has taken its looks (the file below), at most
# this long: a tool that ends on the bound means looks that came too late, and fails the run.
readonly FLASH_TOOL_BOUND_MS=300000
readonly LOOKS_TAKEN="$WINEPREFIX/drive_c/fixture-logs/looks-taken"
readonly RESTART_HOLD="$WINEPREFIX/drive_c/fixture-logs/restart-hold"
# The stand-in powrprof.dll holds the updater's restore of the power policies until the looks
# at the covered screen are taken, so that a refusal cannot finish before them.
readonly COVERED_LOOKS_TAKEN="$WINEPREFIX/drive_c/fixture-logs/covered-looks-taken"
readonly FLASH_SETTLE_S=15
readonly POLL_S=0.2
readonly WATCH_SECONDS=1200
export WINFLASH_LOG=$FLASH_TOOL_LOG_WIN WINFLASH_DELAY_MS=$FLASH_TOOL_BOUND_MS \
  WINFLASH_UNTIL_FILE='C:\fixture-logs\looks-taken' RECORDER_HOLD_UNTIL_FILE='C:\fixture-logs\restart-hold' \
  POWRPROF_HOLD_UNTIL_FILE='C:\fixture-logs\covered-looks-taken'
# The updater's text calls in Wine's trace: which status texts the window drew.
readonly TEXT_TRACE=-all,+text
readonly FIRST_STATUS_TEXT='Initializing for BIOS update'
# Seen in both files' runs: the tool's console drawn above the covering window for good (Wine's
# X stacking, see flash_tool.cpp), so that the screenshots showed the console.
export WINFLASH_HIDE_CONSOLE=1
# Under emulation the tool's first line can come seconds after its process exists.
readonly CONSOLE_HIDDEN_WAIT_S=30

facts=$out_dir/facts
: >"$facts"
report_file=$(mktemp)

program_running() { kill -0 "$program_pid" 2>/dev/null; }
# The inputs that reached the probe's hooks and the probe's window, in order, as two facts.
lock_facts() {  # lock_facts WHEN
  local lines
  [[ -f $INPUT_WATCH_FILE ]] || return 0
  lines=$(inject_lock_inputs)
  fact "inputs_$1" "$(reached probe "$lines")"
  fact "window_inputs_$1" "$(reached window "$lines")"
}

# Waits until the updater has drawn TEXT, at most WAIT_MS.
wait_drawn() {
  local deadline=$(($(now_ms) + WAIT_MS))
  until drawn_texts | grep -qxF "$1"; do
    (($(now_ms) < deadline)) || return 1
    sleep "$POLL_S"
  done
}

fixtures_install && bitlocker_install || { fact fixtures failed; exit 1; }
# A protected system volume: the update suspends BitLocker for its restart, a refusal asks nothing.
brindle_install "$COMPANION_WIN" && fixtures_reset && bitlocker_state protected && brindle_start "$COMPANION_WIN" ||
  { fact fixtures failed; exit 1; }
fact fixtures ok
fact bios "$(cat /sys/class/dmi/id/bios_version)"
fact policies_before "$(power_policy_triples)"
fact companion_before "$(brindle_running_count)"
input_watch_start "$probe_exe" "$WATCH_SECONDS" && fact input_watch ready || fact input_watch "not ready"

trace_from=$(wc -l <"$WINE_STATE_DIR/wine.log")
WINEDEBUG=$TEXT_TRACE start_program "$report_file"
if wait_question; then
  fact question shown
  fact question_rect "$(wine_driver window-info "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" | sed -n 's/^rect=//p')"
  fact question_hex "$(question_hex)"
  fact question_buttons "$(wine_driver buttons "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION")"
  fact question_icon "$(wine_driver icon "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION")"
  wine_driver screenshot "$(wine_win_path "$out_dir/question.bmp")" >/dev/null
  answer_question "$IDYES"
else
  fact question missing
fi

# The screen covered, before the flash tool or the refusal: the same looks as while the tool
# runs, so that a refused run is judged on them too. The window must still be there after them.
covered=no
wait_covered >/dev/null && covered=yes
fact covered "$covered"
if [[ $covered == yes ]]; then
  # The screenshot first, once the first status text is drawn: some 13 s later the flash tool's
  # console may be drawn over the screen until the tool hides it.
  wait_drawn "$FIRST_STATUS_TEXT" || echo "no \"$FIRST_STATUS_TEXT\" drawn within $WAIT_MS ms" >&2
  wine_driver screenshot "$(wine_win_path "$out_dir/covered.bmp")" >/dev/null
  fact policies_covered "$(power_policy_triples)"
  fact companion_covered "$(brindle_running_count)"
  fact updater_wow64 "$(wine_driver window-wow64 '#32770' 'BIOS Update Program')"
  lock_facts covered
  fact covering_after_looks "$(wine_driver window-info '#32770' 'BIOS Update Program' 2>/dev/null |
    tr -d '\r' | grep -qx 'topmost=1' && echo yes || echo no)"
fi
touch "$COVERED_LOOKS_TAKEN"
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
  lock_facts locked_at_start
  fact companion_during "$(brindle_running_count)"
  fact policies_during "$(power_policy_triples)"
  # Once the tool has run a while, the same again: what is still there then is no moment's
  # hiccup of a slow machine.
  sleep "$FLASH_SETTLE_S"
  wine_driver screenshot "$(wine_win_path "$out_dir/flash.bmp")" >/dev/null
  fact window "$(wine_driver window-info '#32770' 'BIOS Update Program')"
  fact windows_during "$(wine_driver list-windows)"
  lock_facts locked
  fact flash_tool_still_running "$(flash_tool_running && echo yes || echo no)"
else
  fact flash_tool_seen no
  ps -eo pid,args >&2
fi
# The looks are taken: the stand-in may end.
touch "$LOOKS_TAKEN"
# The finish undoes the lock, then waits for its restart command, which the stand-in holds.
while program_running && (($(restart_requests) == 0)); do sleep "$POLL_S"; done
fact running_after_finish "$(program_running && echo yes || echo no)"
lock_facts after_finish
touch "$RESTART_HOLD"
wait_program
update_outcome "$report_file" >>"$facts"
# Which manage-bde ran (path, width), with what command line, and when it ended.
fact manage_bde_ran "$(paste -d'|' <(manage_bde_field 1) <(manage_bde_field 2) | sort -u | paste -sd'#')"
fact manage_bde_commands "$(manage_bde_field 3 | paste -sd'#')"
fact manage_bde_last_end "$(manage_bde_field 5 | sed 's/^endms=//' | sort -n | tail -n 1)"
fact flash_start "$(flash_log_field startms)"
fact bitlocker_suspension "$(bitlocker_suspension)"
fact drawn_texts "$(drawn_texts)"
lock_facts released
input_watch_stop
rm -f "$report_file"
cat "$facts"
