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
# - The updater crashing while the flash tool runs (a thread of it faults, or calls abort or
#   std::terminate) keeps every lock until the tool has ended, then ends with the fault's code:
#   no debugger and no crash box keep it alive, and its power policies are back.
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
trap 'input_watch_stop; rm -f "$report_file" "$PROGRAM_DIR"/powrprof.dll "$PROGRAM_DIR"/comctl32.dll; fixtures_uninstall' EXIT
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

# ----- the updater crashing while the flash tool runs -----
# A thread of the updater faults (at an address with no code), or calls the run-time's abort or
# std::terminate, while the tool writes the firmware: every lock holds until the tool has ended (the policies
# stay off, key-downs and clicks are still swallowed, judged by the probe's hooks and by its
# window as in input_lock.sh), then the updater ends within a few seconds with the fault's code,
# without a debugger or a box, its policies back and its hooks gone.
readonly ACCESS_VIOLATION_EXIT=3221225477  # 0xC0000005
readonly ABORT_EXIT=3
readonly PROBE_EXE=${INPUT_PROBE_EXE:-$(dirname "$WINTEST_EXE")/input_probe.exe}
readonly WATCH_SECONDS=120
# Long enough for the looks taken after the fault (a few driver and probe runs).
readonly CRASH_FLASH_MS=12000
# The driver's bound on the run, longer by the tool's run.
readonly CRASH_RUN_TIMEOUT_MS=$((RUN_TIMEOUT_MS + CRASH_FLASH_MS))
# The fault's thread starts and reaches the filter.
readonly FAULT_SETTLE_S=1
# From the tool's end (as a poll sees it) to the updater's: the unhooking, the restore and the
# driver noticing the end.
readonly CRASH_END_BOUND_MS=5000
# The hooks' renewals are read from a relay trace of the two calls alone.
readonly RELAY_KEY='HKCU\Software\Wine\Debug'
readonly RELAY_CALLS='SetWindowsHookExA;UnhookWindowsHookEx'
readonly MS_PER_S=1000
readonly HOOKS=2
wine_log_size() { stat -c %s "$WINE_STATE_DIR/wine.log"; }
traced_count() { tail -c "+$(($1 + 1))" "$WINE_STATE_DIR/wine.log" | head -c "$(($2 - $1))" | grep -c "Call [A-Za-z0-9_]*\.$3("; }

crash_during_flash() {  # crash_during_flash LABEL EXIT_CODE DRIVER_COMMAND [ARGUMENT]
  local label=$1 code=$2 policies_before applied locked released tool_end_ms=0 ended_ms deadline
  local trace_from trace_to traced_from_ms traced_ms
  fixtures_reset
  power_settings_seed
  wine_exec reg add "$RELAY_KEY" /v RelayInclude /t REG_SZ /d "$RELAY_CALLS" /f >/dev/null 2>&1
  policies_before=$(power_policy_triples)
  if ! input_watch_start "$PROBE_EXE" "$WATCH_SECONDS"; then
    expect "$label: the probe's hooks are installed" ready "not ready within ${WAIT_MS} ms"
    return
  fi
  export WINFLASH_DELAY_MS=$CRASH_FLASH_MS
  (cd "$PROGRAM_DIR" && WINEDEBUG=+relay bios_version_run 47K31RA9 \
    wine_driver run "$CRASH_RUN_TIMEOUT_MS" "$PROGRAM_WIN") >"$report_file" 2>&1 &
  program_pid=$!
  unset WINFLASH_DELAY_MS
  if wait_question; then
    answer_question "$IDYES"
    deadline=$(($(date +%s) + WAIT_MS / 1000 + 15))
    until flash_tool_running || (($(date +%s) > deadline)); do sleep "$POLL_S"; done
    trace_from=$(wine_log_size)
    traced_from_ms=$(now_ms)
    expect "$label: the flash tool runs when the fault comes" 1 "$(running_count "$FLASH_TOOL_IMAGE")"
    expect "$label: the faulting thread is started in the updater" 1 \
      "$(wine_driver "${@:3:1}" BIOSUpdate.exe "${@:4}" | tr -d '\r')"
    sleep "$FAULT_SETTLE_S"
    applied=$(first_applied_policies)
    expect "$label: after the fault, the updater still runs" 1 "$(running_count BIOSUpdate.exe)"
    expect "$label: after the fault, the power policies are still off" "$applied" "$(power_policy_triples)"
    expect "$label: after the fault, the power settings in force are still off" "$SETTINGS_OFF" "$(power_settings_in_force)"
    locked=$(inject_lock_inputs)
    expect "$label: after the fault, inputs that reach the probe, in order" "$LOCKED_PASSING" \
      "$(reached probe "$locked" | paste -sd ' ')"
    expect "$label: after the fault, inputs that reach another program's window, in order" "$LOCKED_PASSING" \
      "$(reached window "$locked" | paste -sd ' ')"
    trace_to=$(wine_log_size)
    traced_ms=$(($(now_ms) - traced_from_ms))
    expect "$label: the flash tool still ran through those looks" 1 "$(running_count "$FLASH_TOOL_IMAGE")"
    # At least once a second each hook anew, then the old one removed, before and after the fault.
    local least=$((HOOKS * (traced_ms / MS_PER_S))) installed removed
    installed=$(traced_count "$trace_from" "$trace_to" SetWindowsHookExA)
    removed=$(traced_count "$trace_from" "$trace_to" UnhookWindowsHookEx)
    echo "$label: in ${traced_ms} ms of the flash, ${installed} hooks installed anew and ${removed} removed"
    expect "$label: hooks renewed during the flash, at least ${least} in ${traced_ms} ms" yes \
      "$( ((installed >= least && least > 0)) && echo yes || echo "no ($installed)")"
    expect "$label: each renewed hook's predecessor removed" yes \
      "$( ((removed >= installed - HOOKS && removed <= installed)) && echo yes || echo "no ($removed for $installed)")"
    deadline=$(($(date +%s) + CRASH_FLASH_MS / 1000 + 15))
    # A count the driver could not take (no output) is no end.
    until [[ $(running_count "$FLASH_TOOL_IMAGE") == 0 ]] || (($(date +%s) > deadline)); do sleep "$POLL_S"; done
    tool_end_ms=$(now_ms)
  else
    expect "$label: the question is shown" shown "not shown"
  fi
  wait_program
  ended_ms=$(now_ms)
  echo "$label: the updater ended $((ended_ms - tool_end_ms)) ms after the tool was seen gone"
  expect "$label: the updater ends within ${CRASH_END_BOUND_MS} ms of the tool's end" yes \
    "$( ((ended_ms - tool_end_ms <= CRASH_END_BOUND_MS)) && echo yes || echo "no ($((ended_ms - tool_end_ms)) ms)")"
  expect "$label: the updater ends with the fault's code" "$code" "$(report_field exit "$(cat "$report_file")")"
  expect "$label: no debugger started" 0 "$(running_count winedbg.exe)"
  expect "$label: power policies back" "$(restored_triples "$policies_before")" "$(power_policy_triples)"
  expect "$label: power settings in force back" "$SEEDED_SETTINGS" "$(power_settings_in_force)"
  released=$(inject_lock_inputs)
  expect "$label: after the end, inputs that reach the probe, in order" "$RELEASED_PASSING" \
    "$(reached probe "$released" | paste -sd ' ')"
  input_watch_stop
  wine_exec reg delete "$RELAY_KEY" /v RelayInclude /f >/dev/null 2>&1
  wine_exec taskkill /F /IM WinFlash64.exe >/dev/null 2>&1
}
crash_during_flash "fault" "$ACCESS_VIOLATION_EXIT" fault-thread
crash_during_flash "abort" "$ABORT_EXIT" abort-thread
# std::terminate of the updater's own run-time, at its address in the image (read from the
# image's debug copy, the same image with its symbols).
readonly UPDATER_DEBUG=$(dirname "$updater_exe")/BIOSUpdate.debug.exe
image_base=$(x86_64-w64-mingw32-objdump -p "$UPDATER_DEBUG" 2>/dev/null | awk '$1 == "ImageBase" { print $2 }')
terminate_at=$(x86_64-w64-mingw32-nm "$UPDATER_DEBUG" 2>/dev/null | awk '$3 == "_ZSt9terminatev" { print $1 }')
if [[ -n $image_base && -n $terminate_at ]]; then
  crash_during_flash "terminate" "$ABORT_EXIT" thread-at "$(printf '%x' $((16#$terminate_at - 16#$image_base)))"
else
  expect "terminate: std::terminate found in $UPDATER_DEBUG" found missing
fi

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
