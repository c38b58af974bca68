#!/usr/bin/env bash
# The input lock of an update run: while it is on, key-downs (Enter, Escape, Alt+Tab's
# included) and left and right clicks sent with SendInput are swallowed, and key-ups, pointer
# moves, the wheel, the middle and the X buttons pass; once the finish message has removed the
# lock everything arrives again, while the updater still runs (it waits for its restart
# command, which the stand-in shutdown.exe holds), and after the run. Enter and Escape posted
# straight to the updater's window during the run do not end it: the window stays, and the
# run reaches its finish and ends with exit code 0 at its usual time.
#
# What passes is judged twice: by input_probe's own low-level hooks, installed before the
# updater starts (low-level hooks are called last-installed first, so the probe's hooks are
# called after the updater's, and only for what those pass on), and by what the probe's window,
# a window of another program given the focus and the mouse capture before each input,
# receives. A hook that ends an event without passing it on and without swallowing it fools
# the first, not the second.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly PROBE_EXE=${INPUT_PROBE_EXE:-$(dirname "$WINTEST_EXE")/input_probe.exe}
readonly DIALOG_CLASS='#32770'
readonly DIALOG_CAPTION='BIOS Update Program'
# Longer than the whole check; the watch is closed at the end and ends by itself only if the
# check is cut short.
readonly WATCH_SECONDS=120
# From the screen covered to the start timer's tick: 500 ms wait, 500 ms timer. On that tick
# the window's thread asks WMI for the BIOS version and writes the capsule; input sent while it
# is busy would wait for its hooks, or pass them once they time out. The lock is measured after.
readonly COVER_TO_IDLE_MS=2500
# Sent from the moment the screen is covered, while the window's thread sleeps, queries WMI and
# writes the capsule: the hooks must answer from a thread of their own, or the system would let
# the key-downs through (Windows 7 and later drop such a hook for good).
readonly STREAM_INPUT=key-down:41 STREAM_COUNT=40 STREAM_GAP_MS=50
# The flash tool's run; the finish follows its end.
readonly FLASH_TOOL_RUN_MS=2000
# From the answer to the restart command of the finish, at the least: the start timer after the
# screen is covered (500 ms wait, 500 ms timer), then the worker's start delay, loading delay,
# two step pauses, the checking and updating pauses (1000 + 2000 + 2000 + 2000 + 4000 + 1000 ms)
# and the flash tool's run. A finish that comes earlier was brought on by something else.
readonly ANSWER_TO_FINISH_MS=$((13000 + FLASH_TOOL_RUN_MS))
# Beyond that: the power guard, the companion's stop, the flash tool written, the WMI query (its
# enumeration alone may wait 2000 ms), undoing the locks, the command interpreter's start and
# the check noticing it.
readonly FINISH_SLACK_MS=5000
readonly RESTART_HOLD_WIN='C:\fixture-logs\restart-hold'
readonly RESTART_HOLD="$WINEPREFIX/drive_c/fixture-logs/restart-hold"
readonly FINISH_POLL_S=0.1
# Posted messages are handled within one turn of the window's message loop; this is ample.
readonly POST_SETTLE_S=1

readonly WM_KEYDOWN=0x0100 WM_SYSKEYDOWN=0x0104
readonly VK_RETURN=0x0D VK_ESCAPE=0x1B
# lParam of a key-down: repeat count 1 and the key's scan code; a sys-key-down also carries
# the context bit (Alt held).
readonly KEY_LPARAM_RETURN=0x001C0001 KEY_LPARAM_ESCAPE=0x00010001
readonly ALT_CONTEXT_BIT=0x20000000

# Every input sent, in order: LOCK_INPUTS (fixtures.sh); what passes: LOCKED_PASSING while the
# lock is on, RELEASED_PASSING afterwards.

watch_file=$INPUT_WATCH_FILE
report_file=$(mktemp)
program_pid=

probe() { wine_exec "$PROBE_EXE" "$@"; }
clean_up() {
  input_watch_stop
  touch "$RESTART_HOLD"
  [[ -n $program_pid ]] && wait "$program_pid"
  fixtures_uninstall
  rm -f "$report_file" "$watch_file" "$RESTART_HOLD"
}
trap clean_up EXIT

line_count() { wc -l <"$watch_file" | tr -d ' '; }
# How many times INPUT appears in the collected names.
check_inputs() {  # check_inputs PHASE COLLECTED EXPECTED
  expect "$1: inputs that reach the probe, in order" "$3" "$(reached probe "$2" | paste -sd ' ')"
  expect "$1: inputs that reach another program's window with the focus, in order" "$3" \
    "$(reached window "$2" | paste -sd ' ')"
}
# The handle of the updater's window, or nothing when there is none.
dialog_window() {
  wine_driver wait-window "$DIALOG_CLASS" "$DIALOG_CAPTION" 0 2>/dev/null | tr -d '\r'
}
post_to_dialog() { probe post "$DIALOG_CLASS" "$DIALOG_CAPTION" "$@" >/dev/null 2>&1; }

[[ -f $PROBE_EXE ]] || { expect "input_probe.exe is built" "$PROBE_EXE" missing; finish; exit 1; }
fixtures_install || { expect "fixtures install" ok failed; finish; exit 1; }
fixtures_reset

if ! input_watch_start "$PROBE_EXE" "$WATCH_SECONDS"; then
  expect "the probe's hooks are installed" ready "not ready within ${WAIT_MS} ms"
  finish
  exit 1
fi
rm -f "$RESTART_HOLD"
export WINFLASH_DELAY_MS=$FLASH_TOOL_RUN_MS RECORDER_HOLD_UNTIL_FILE=$RESTART_HOLD_WIN
bios_version_run 47K31RA9 run_program >"$report_file" 2>&1 &
program_pid=$!
unset WINFLASH_DELAY_MS RECORDER_HOLD_UNTIL_FILE
if ! wait_question; then
  expect "the question is shown" shown "not shown"
  finish
  exit 1
fi
answered_ms=$(now_ms)
answer_question "$IDYES"
read -r covered_ms _ < <(wait_covered)
if [[ -z $covered_ms ]]; then
  expect "the window covers the screen" covered "not covered"
  finish
  exit 1
fi

stream_from=$(line_count)
stream_started_ms=$(now_ms)
answer_us=$(probe stream "$STREAM_INPUT" "$STREAM_COUNT" "$STREAM_GAP_MS" 2>/dev/null | tr -d '\r')
streamed=$(tail -n +"$((stream_from + 1))" "$watch_file" | tr -d '\r' | awk '$3 == "probe" { print $1 }')
echo "hooks' answer time while the window's thread is blocked (from +$((stream_started_ms - covered_ms)) ms" \
  "after the screen was covered, ${STREAM_COUNT} key-downs): $(sort -n <<<"$answer_us" |
  awk '{ v[NR] = $1 } END { printf "median %d us, max %d us", v[int((NR + 1) / 2)], v[NR] }')"
expect "key-downs sent while the window's thread is blocked: all answered" "$STREAM_COUNT" "$(grep -c . <<<"$answer_us")"
expect "key-downs sent while the window's thread is blocked reach the probe (times)" 0 \
  "$(grep -cxF -- "$STREAM_INPUT" <<<"$streamed")"
idle_left_ms=$((COVER_TO_IDLE_MS - ($(now_ms) - covered_ms)))
((idle_left_ms > 0)) && sleep "$(awk -v ms="$idle_left_ms" 'BEGIN { print ms / 1000 }')"
locked_ms=$(($(now_ms) - answered_ms))
locked=$(inject_lock_inputs)
echo "lock on (inputs sent at +${locked_ms} ms after the answer, screen covered at" \
  "+$((covered_ms - answered_ms)) ms): reached: $(paste -sd" " <<<"$locked")"
check_inputs "lock on" "$locked" "$LOCKED_PASSING"

# Enter and Escape as key-downs and sys-key-downs, straight into the window's queue where no
# hook sees them.
window_before=$(dialog_window)
post_to_dialog "$WM_KEYDOWN" "$VK_RETURN" "$KEY_LPARAM_RETURN" \
  "$WM_KEYDOWN" "$VK_ESCAPE" "$KEY_LPARAM_ESCAPE" \
  "$WM_SYSKEYDOWN" "$VK_RETURN" "$((KEY_LPARAM_RETURN | ALT_CONTEXT_BIT))" \
  "$WM_SYSKEYDOWN" "$VK_ESCAPE" "$((KEY_LPARAM_ESCAPE | ALT_CONTEXT_BIT))" ||
  echo "input_probe post failed" >&2
posted_ms=$(($(now_ms) - answered_ms))
sleep "$POST_SETTLE_S"
if [[ -n $window_before ]]; then
  expect "posted Enter and Escape: the same window is still there" "$window_before" \
    "$(dialog_window)"
else
  expect "the window is there to post to" found "not found"
fi

# The finish has undone the lock and waits for its restart command, which the stand-in holds.
finish_deadline_ms=$((answered_ms + ANSWER_TO_FINISH_MS + FINISH_SLACK_MS + WAIT_MS))
until (($(restart_requests) > 0)) || (($(now_ms) > finish_deadline_ms)); do sleep "$FINISH_POLL_S"; done
finished_ms=$(($(now_ms) - answered_ms))
echo "keys posted by +${posted_ms} ms; the finish asked for the restart by +${finished_ms} ms after the answer"
expect "finish with Enter and Escape posted comes no earlier than ${ANSWER_TO_FINISH_MS} ms after the answer" yes \
  "$( ((finished_ms >= ANSWER_TO_FINISH_MS)) && echo yes || echo "no ($finished_ms ms)")"
readonly latest_finish_ms=$((ANSWER_TO_FINISH_MS + FINISH_SLACK_MS))
expect "finish comes within ${latest_finish_ms} ms of the answer" yes \
  "$( ((finished_ms <= latest_finish_ms)) && echo yes || echo "no ($finished_ms ms)")"
after_finish=$(inject_lock_inputs)
echo "after the finish, the updater still running: reached: $(paste -sd" " <<<"$after_finish")"
expect "the updater still runs while the restart is held" 1 "$(running_count BIOSUpdate.exe)"
check_inputs "after the finish, the updater still running" "$after_finish" "$RELEASED_PASSING"

touch "$RESTART_HOLD"
wait_program
program_pid=
expect "run with Enter and Escape posted exits 0" 0 "$(report_field exit "$(cat "$report_file")")"

released=$(inject_lock_inputs)
echo "after the run: reached: $(paste -sd" " <<<"$released")"
check_inputs "after the run" "$released" "$RELEASED_PASSING"

finish
