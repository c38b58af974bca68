#!/usr/bin/env bash
# Clean-up mode: the Run value and the working folder go, a foreign file stays, no window.
source "$(dirname "$0")/common.sh"

for args in "1" " 1" "1abc"; do
  label="clean-up mode \"$args\""
  set_run_value
  leave_earlier_run
  report=$(run_program "$args")
  expect "$label exits 0" "0" "$(report_field exit "$report")"
  expect "$label shows no window" "0" "$(report_field windows "$report")"
  expect "$label removes the Run value" "no" "$(run_value_present)"
  expect "$label removes the flash tool" "no" "$(exists "$WORK_DIR/WinFlash64.exe")"
  expect "$label removes the capsule" "no" "$(exists "$WORK_DIR/47K31RB4.cap")"
  expect "$label removes the folder" "no" "$(exists "$WORK_DIR")"
done

label="clean-up mode with a foreign file"
leave_earlier_run
echo "notes" >"$WORK_DIR/notes.txt"
report=$(run_program "1")
expect "$label exits 0" "0" "$(report_field exit "$report")"
expect "$label removes the payloads" "no no" \
  "$(exists "$WORK_DIR/WinFlash64.exe") $(exists "$WORK_DIR/47K31RB4.cap")"
expect "$label keeps the foreign file" "notes" "$(cat "$WORK_DIR/notes.txt" 2>/dev/null)"
rm -rf "$WORK_DIR"

label="clean-up mode with nothing to remove"
report=$(run_program "1")
expect "$label exits 0" "0" "$(report_field exit "$report")"
expect "$label shows no window" "0" "$(report_field windows "$report")"

finish
