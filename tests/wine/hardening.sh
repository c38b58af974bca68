#!/usr/bin/env bash
# Nothing planted beside the program is loaded, nothing put under its name is run or flashed,
# and no command line hurts it.
# - The running program renamed and another file with other payload bytes put under its old
#   name before the payloads are written: the flash tool that runs and the capsule it is given
#   are the loaded program's own, byte for byte.
# - A powrprof.dll and a comctl32.dll beside BIOSUpdate.exe, with Wine told to prefer native
#   DLLs, are never loaded, while the stand-in powrprof.dll of the system folder is.
# - Very long, non-ASCII, format-character, overflowing and quoted arguments each end in the
#   mode that reading an integer with "%d" gives (1: clean-up; anything else: the question),
#   with exit code 0 and no crash.
# - The updater crashing while the flash tool runs (a thread of it faults) ends at once with the
#   fault's code: no debugger and no crash box keep it alive, and its power policies are back.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly LONG_ARGUMENT_LENGTH=32000
readonly PLANTED_DLLS=(powrprof.dll comctl32.dll)
readonly LOG_SYSTEM_POWRPROF='load C:\windows\system32\powrprof.dll'
readonly CLEANUP=cleanup UPDATE=update
# The payloads the twin carries, as the build embedded them.
readonly EMBEDDED_TOOL=$(dirname "$updater_exe")/tools/capsule/WinFlash64.exe
readonly EMBEDDED_CAPSULE=$(dirname "$updater_exe")/../payload/47K31RB4.cap
readonly RENAMED="$PROGRAM_DIR/BIOSUpdate.running.exe"
readonly FLASH_TOOL_RUN_MS=4000
readonly POLL_S=0.1

report_file=$(mktemp)
trap 'rm -f "$report_file" "$PROGRAM_DIR"/powrprof.dll "$PROGRAM_DIR"/comctl32.dll; fixtures_uninstall' EXIT
fixtures_install || { expect "fixtures install" ok failed; finish; exit 1; }

# ----- another file under the running program's name -----
# A copy of the program with a byte changed every 4 KB inside each embedded payload, as
# anyone who owns the download folder could make it.
tamper() {  # tamper PROGRAM OUT TOOL CAPSULE
  python3 - "$@" <<'PY'
import sys
program, out, *payloads = sys.argv[1:]
data = bytearray(open(program, "rb").read())
for payload in payloads:
    head = open(payload, "rb").read()[:4096]
    at, size = data.find(head), len(open(payload, "rb").read())
    assert at >= 0, payload + " not found in the program"
    for offset in range(at + 1024, at + size, 4096):
        data[offset] ^= 0xFF
open(out, "wb").write(bytes(data))
PY
}
fixtures_reset
export WINFLASH_DELAY_MS=$FLASH_TOOL_RUN_MS
(cd "$PROGRAM_DIR" && bios_version_run 47K31RA9 run_program) >"$report_file" 2>&1 &
program_pid=$!
if wait_question; then
  mv "$PROGRAM_DIR/BIOSUpdate.exe" "$RENAMED"
  tamper "$RENAMED" "$PROGRAM_DIR/BIOSUpdate.exe" "$EMBEDDED_TOOL" "$EMBEDDED_CAPSULE" ||
    expect "a changed copy is made" made failed
  answer_question "$IDYES"
  deadline=$(($(date +%s) + WAIT_MS / 1000 + 15))
  until flash_tool_running || (($(date +%s) > deadline)); do sleep "$POLL_S"; done
  expect "renamed program: the flash tool that runs is the embedded one" same \
    "$(cmp -s "$EMBEDDED_TOOL" "$WORK_DIR/WinFlash64.exe" && echo same || echo different)"
  expect "renamed program: the capsule written is the embedded one" same \
    "$(cmp -s "$EMBEDDED_CAPSULE" "$WORK_DIR/47K31RB4.cap" && echo same || echo different)"
else
  expect "renamed program: the question is shown" shown "not shown"
fi
wait_program
unset WINFLASH_DELAY_MS
expect "renamed program: run exits 0" 0 "$(report_field exit "$(cat "$report_file")")"
[[ -f $RENAMED ]] && mv -f "$RENAMED" "$PROGRAM_DIR/BIOSUpdate.exe"

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

# ----- a crash in the middle of the run -----
readonly ACCESS_VIOLATION_EXIT=3221225477  # 0xC0000005
fixtures_reset
policies_before=$(power_policy_triples)
export WINFLASH_DELAY_MS=$((WAIT_MS * 2))
(cd "$PROGRAM_DIR" && bios_version_run 47K31RA9 run_program) >"$report_file" 2>&1 &
program_pid=$!
if wait_question; then
  answer_question "$IDYES"
  deadline=$(($(date +%s) + WAIT_MS / 1000 + 15))
  until flash_tool_running || (($(date +%s) > deadline)); do sleep "$POLL_S"; done
  expect "crash: a faulting thread is started in the updater" 1 \
    "$(wine_driver fault-thread BIOSUpdate.exe | tr -d '\r')"
else
  expect "crash: the question is shown" shown "not shown"
fi
wait_program
unset WINFLASH_DELAY_MS
expect "crash: the updater ends at once with the fault's code" "$ACCESS_VIOLATION_EXIT" \
  "$(report_field exit "$(cat "$report_file")")"
expect "crash: no debugger started" 0 "$(running_count winedbg.exe)"
expect "crash: power policies back" "$(restored_triples "$policies_before")" "$(power_policy_triples)"
wine_exec taskkill /F /IM WinFlash64.exe >/dev/null 2>&1

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
