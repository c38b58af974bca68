#!/usr/bin/env bash
# A second start while the first waits at its question ends at once and silently, exit code
# 0, whatever its command line, and changes nothing.
source "$(dirname "$0")/common.sh"

readonly AT_ONCE_MS=3000
first_report=$(mktemp)
trap 'rm -f "$first_report"' EXIT

set_run_value
leave_earlier_run
start_program "$first_report"
if wait_question; then
  for args in "1" "" "0" "abc"; do
    label="second instance \"$args\""
    start=$(date +%s%N)
    report=$(run_program "$args")
    elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    echo "$label ended after ${elapsed_ms} ms"
    expect "$label exits 0" "0" "$(report_field exit "$report")"
    expect "$label shows no window" "0" "$(report_field windows "$report")"
    expect "$label ends at once (under ${AT_ONCE_MS} ms; took ${elapsed_ms})" "yes" \
      "$([[ $elapsed_ms -lt $AT_ONCE_MS ]] && echo yes || echo no)"
    expect "$label keeps the Run value" "yes" "$(run_value_present)"
    expect "$label keeps the working folder" "yes" "$(exists "$WORK_DIR/47K31RB4.cap")"
  done
  expect "first instance still asks" "0" \
    "$(wine_driver wait-window "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" 1000 >/dev/null 2>&1; echo $?)"
  answer_question "$IDNO"
else
  expect "first instance shows its question" "shown" "not shown"
fi
wait_program
expect "first instance exits 0" "0" "$(report_field exit "$(cat "$first_report")")"

finish
