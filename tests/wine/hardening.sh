#!/usr/bin/env bash
# Nothing planted beside the program is loaded, and no command line hurts it.
# - A powrprof.dll and a comctl32.dll beside BIOSUpdate.exe, with Wine told to prefer native
#   DLLs, are never loaded, while the stand-in powrprof.dll of the system folder is.
# - Very long, non-ASCII, format-character, overflowing and quoted arguments each end in the
#   mode that reading an integer with "%d" gives (1: clean-up; anything else: the question),
#   with exit code 0 and no crash.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly LONG_ARGUMENT_LENGTH=32000
readonly PLANTED_DLLS=(powrprof.dll comctl32.dll)
readonly LOG_SYSTEM_POWRPROF='load C:\windows\system32\powrprof.dll'
readonly CLEANUP=cleanup UPDATE=update

report_file=$(mktemp)
trap 'rm -f "$report_file" "$PROGRAM_DIR"/powrprof.dll "$PROGRAM_DIR"/comctl32.dll; fixtures_uninstall' EXIT
fixtures_install || { expect "fixtures install" ok failed; finish; exit 1; }

# ----- planted DLLs -----
# The stand-in powrprof.dll logs every load with its own path, so a copy under either name
# tells where it was loaded from.
for dll in "${PLANTED_DLLS[@]}"; do cp "$FIXTURES_BIN/powrprof.dll" "$PROGRAM_DIR/$dll"; done
fixtures_reset
(cd "$PROGRAM_DIR" && WINEDLLOVERRIDES="powrprof,comctl32=n,b" bios_version_run Wine run_program) >"$report_file" 2>&1 &
program_pid=$!
if wait_question; then answer_question "$IDYES"; fi
wait_program
expect "planted DLLs: run exits 0" 0 "$(report_field exit "$(cat "$report_file")")"
expect "planted DLLs: none loaded from beside the program" 0 \
  "$(fixture_log powrprof | grep -ci '^load C:\\users\\Public\\Downloads\\')"
expect "planted DLLs: the system folder's powrprof.dll is loaded" 1 \
  "$(fixture_log powrprof | tr 'A-Z' 'a-z' | grep -cxF "$(tr 'A-Z' 'a-z' <<<"$LOG_SYSTEM_POWRPROF")")"
expect "planted DLLs: the power guard worked through it" 2 "$(fixture_log powrprof | grep -c '^SetActivePwrScheme ok')"
rm -f "$PROGRAM_DIR"/powrprof.dll "$PROGRAM_DIR"/comctl32.dll

# ----- bad command lines -----
long_ones=$(printf '1%*s' $((LONG_ARGUMENT_LENGTH - 1)) '' | tr ' ' 'x')
long_digits=$(printf '%*s' "$LONG_ARGUMENT_LENGTH" '' | tr ' ' '9')
while IFS='|' read -r label arguments mode; do
  case "$arguments" in
    LONG_ONES) arguments=$long_ones ;;
    LONG_DIGITS) arguments=$long_digits ;;
  esac
  start_program "$report_file" "$arguments"
  if [[ $mode == "$UPDATE" ]]; then
    if wait_question; then answer_question "$IDNO"; else expect "$label asks the question" shown "not shown"; fi
    wait_program
    expect "$label exits 0 after No" 0 "$(report_field exit "$(cat "$report_file")")"
  else
    wait_program
    report=$(cat "$report_file")
    expect "$label exits 0" 0 "$(report_field exit "$report")"
    expect "$label shows no window" "windows=0" "$(grep -o 'windows=[0-9]*' <<<"$report")"
  fi
done <<CASES
32,000 characters beginning with 1|LONG_ONES|$CLEANUP
32,000 nines (beyond the integer's range)|LONG_DIGITS|$UPDATE
format characters|%n%s%x%p|$UPDATE
non-ASCII bytes|$(printf '\xec\x95\x88\xeb\x85\x95')|$UPDATE
overflow|99999999999|$UPDATE
leading minus and overflow|-99999999999|$UPDATE
leading plus|+1|$CLEANUP
quoted 1|"1"|$UPDATE
1 then quotes|1"2"|$CLEANUP
CASES

finish
