#!/usr/bin/env bash
# Update mode: the confirmation question with its caption, text, buttons and icon; No ends
# the run with exit code 0 having removed an earlier run's working folder and nothing else.
source "$(dirname "$0")/common.sh"

english_text=$'Do not turn off the power.\r\nBIOS settings will be set to the default values after the update.\r\nIf you install Windows 7, settings must be changed as below.\r\n\r\n  1. BIOS Setup(F2) > Security\r\n  2. Secure Boot Configuration > Secure Boot Option : Off\r\n  3. Save & Exit'
english_hex=$(printf '%s' "$english_text" | to_hex)
report_file=$(mktemp)
trap 'rm -f "$report_file"' EXIT

for args in "" "0" "2" "-1" "abc"; do
  label="update mode \"$args\""
  set_run_value
  leave_earlier_run
  echo "keep" >"$WINEPREFIX/drive_c/$PROGRAM_FILES/neighbour.txt"
  if [[ -z "$args" ]]; then start_program "$report_file"; else start_program "$report_file" "$args"; fi
  if wait_question; then
    expect "$label question text" "$english_hex" "$(question_hex)"
    expect "$label question buttons" "$IDYES &Yes|$IDNO &No" \
      "$(wine_driver buttons "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" | tr -d '\r' | paste -sd '|')"
    expect "$label question icon" "exclamation" \
      "$(wine_driver icon "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" | tr -d '\r\n')"
    expect "$label leaves the earlier run's files while asking" "yes" "$(exists "$WORK_DIR/47K31RB4.cap")"
    answer_question "$IDNO"
  else
    expect "$label shows the question \"$QUESTION_CAPTION\"" "shown" "not shown"
  fi
  wait_program
  report=$(cat "$report_file")
  expect "$label No exits 0" "0" "$(report_field exit "$report")"
  expect "$label No removes the working folder" "no" "$(exists "$WORK_DIR")"
  expect "$label No keeps the Run value" "yes" "$(run_value_present)"
  expect "$label No keeps other files" "keep" \
    "$(cat "$WINEPREFIX/drive_c/$PROGRAM_FILES/neighbour.txt" 2>/dev/null)"
done

finish
