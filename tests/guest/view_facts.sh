#!/usr/bin/env bash
# What the Windows of a prefix looks like to a program of the driver's width (IsWow64Process,
# the native architecture, the system folders, program files), then one run of the updater:
#   in a 64-bit prefix, the clean-up mode ("1") with the Run value set in both registry views,
#     which shows the view the updater works in;
#   in a 32-bit prefix, update mode, which a 32-bit updater must refuse with its message box
#     (and which a 64-bit file cannot even start).
# Writes OUT_DIR/facts (name=value) for check.sh.
#
# Usage: view_facts.sh STATE_DIR UPDATER_EXE WINTEST_EXE OUT_DIR
source "$(dirname "$0")/../wine/common.sh"
out_dir=$4
readonly APP_CAPTION=BIOSUpdate
readonly IDOK=1
readonly BOX_POLL_MS=10000

facts=$out_dir/facts
: >"$facts"
report_file=$(mktemp)

fact view "$(wine_driver process-view)"
if [[ $WINEARCH == win32 ]]; then
  start_program "$report_file"
  # Only while the driver waits for the program: a file that cannot start ends it at once.
  box=no
  while kill -0 "$program_pid" 2>/dev/null; do
    wine_driver wait-window "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$BOX_POLL_MS" >/dev/null 2>&1 &&
      { box=yes; break; }
    # An updater that takes this for 64-bit Windows asks its question instead: No ends it.
    if wine_driver wait-window "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" 0 >/dev/null 2>&1; then
      box=question
      answer_question "$IDNO"
      break
    fi
  done
  if [[ $box == yes ]]; then
    fact gate_text "$(wine_driver text "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$TEXT_ID")"
    fact gate_buttons "$(wine_driver buttons "$MESSAGE_BOX_CLASS" "$APP_CAPTION")"
    fact gate_icon "$(wine_driver icon "$MESSAGE_BOX_CLASS" "$APP_CAPTION")"
    wine_driver screenshot "$(wine_win_path "$out_dir/gate.bmp")" >/dev/null
    wine_driver click "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$IDOK" >/dev/null 2>&1
  elif [[ $box == question ]]; then
    fact gate_text "the update question"
  else
    fact gate_text none
  fi
  wait_program
  # Started by the loader itself, outside the driver: what Wine says of the file here and its
  # exit status (a file that starts shows its box or question, and is stopped).
  if [[ $box == no ]]; then
    timeout "$((WAIT_MS / 1000))" "$WINELOADER" "$PROGRAM_WIN" </dev/null >"$out_dir/loader.txt" 2>&1
    fact loader_status "$?"
    fact loader_says "$(grep -v '^[0-9a-f]*:fixme:' "$out_dir/loader.txt" | head -n 2)"
  fi
  report=$(cat "$report_file")
  fact exit "$(report_field exit "$report")"
  fact windows "$(report_field windows "$report")"
else
  set_run_value 32
  set_run_value 64
  # What the clean-up run starts from: a "gone" afterwards means something only when it was set.
  fact run_value_32_before "$(run_value_present 32)"
  fact run_value_64_before "$(run_value_present 64)"
  leave_earlier_run
  report=$(run_program 1)
  fact exit "$(report_field exit "$report")"
  fact windows "$(report_field windows "$report")"
  fact run_value_32 "$(run_value_present 32)"
  fact run_value_64 "$(run_value_present 64)"
  fact work_dir_after "$(exists "$WORK_DIR")"
fi
rm -f "$report_file"
cat "$facts"
