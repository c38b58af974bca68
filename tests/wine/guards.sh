#!/usr/bin/env bash
# The guards seen from outside: programs planted where the updater was started from never
# run, with the system's COMSPEC, without one, or with the user's own COMSPEC naming one of
# them, while the system's commands do; each power failure is told in its own box, answered
# by a real click (a restore that fails at the finish included: the lock is gone by then),
# and the run still ends with nothing left locked, restarting after a flash; the companion
# program is started again at every path where it exists; a session end agreed to before the
# flash and then called off locks the power again.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly COMPANION_WINS=('C:\Program Files\Norvik Software\Quilden\Brindle.exe'
  'C:\Program Files (x86)\Norvik Software\Quilden\Brindle.exe')
readonly PLANTED_WINS=('C:\users\Public\Downloads\cmd.exe' 'C:\users\Public\Downloads\taskkill.exe'
  'C:\users\Public\Downloads\shutdown.exe' 'C:\users\Public\Downloads\WinFlash64.exe' 'C:\Program.exe')
readonly ENVIRONMENT_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
readonly USER_ENVIRONMENT_KEY='HKCU\Environment'
# Any program of the user can set this, for every program the user starts, elevated or not.
readonly USERS_OWN_COMSPEC=${PLANTED_WINS[0]}
readonly APP_CAPTION=BIOSUpdate
readonly IDOK=1
readonly BOX_WAIT_MS=40000
# A click closes a box at once; well before the run's own time-out could take it away.
readonly BOX_GONE_MS=5000

report_file=$(mktemp)
comspec_saved=
trap 'restore_comspec; remove_users_comspec; fixtures_uninstall; rm -f "$report_file"' EXIT
fixtures_install || { expect "fixtures install" ok failed; finish; exit 1; }
brindle_install "${COMPANION_WINS[@]}"
recorder_plant "${PLANTED_WINS[@]}"

restore_comspec() {
  [[ -n "$comspec_saved" ]] || return 0
  wine_exec reg add "$ENVIRONMENT_KEY" /v ComSpec /t REG_EXPAND_SZ /d "$comspec_saved" /f >/dev/null 2>&1
  comspec_saved=
}
remove_comspec() {
  comspec_saved=$(wine_exec reg query "$ENVIRONMENT_KEY" /v ComSpec 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *ComSpec *REG_[A-Z_]* *//p')
  wine_exec reg delete "$ENVIRONMENT_KEY" /v ComSpec /f >/dev/null 2>&1
}
set_users_comspec() {
  wine_exec reg add "$USER_ENVIRONMENT_KEY" /v COMSPEC /t REG_SZ /d "$USERS_OWN_COMSPEC" /f >/dev/null 2>&1
  export COMSPEC=$USERS_OWN_COMSPEC
}
remove_users_comspec() {
  wine_exec reg delete "$USER_ENVIRONMENT_KEY" /v COMSPEC /f >/dev/null 2>&1
  unset COMSPEC
}
planted_runs() { fixture_log runs | grep -ci -e '^C:\\users\\Public\\Downloads\\' -e '^C:\\Program.exe' ; }
fresh_run() {
  wine_exec taskkill /F /IM Brindle.exe >/dev/null 2>&1
  fixtures_reset
  wine_exec reg delete 'HKU\.DEFAULT\Software\NRVK' /f >/dev/null 2>&1
  brindle_start "${COMPANION_WINS[0]}"
}
# Started from the folder it was downloaded to, as a double-click does.
start_from_downloads() {  # start_from_downloads VERSION
  (cd "$PROGRAM_DIR" && bios_version_run "$1" run_program) >"$report_file" 2>&1 &
  program_pid=$!
}
log_count() { fixture_log "$1" | grep -cxF "$2"; }

box_text() { wine_driver text "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$TEXT_ID" | tr -d '\r'; }
box_buttons() { wine_driver buttons "$MESSAGE_BOX_CLASS" "$APP_CAPTION" | tr -d '\r' | paste -sd '|'; }

# ----- planted programs, with the system's COMSPEC, without one, and with the user's own -----
for comspec in set unset users-own; do
  label="COMSPEC $comspec:"
  [[ $comspec == unset ]] && remove_comspec
  [[ $comspec == users-own ]] && set_users_comspec
  fresh_run
  start_from_downloads 47K31RA9
  if wait_question; then answer_question "$IDYES"; fi
  wait_program
  expect "$label exits 0" 0 "$(report_field exit "$(cat "$report_file")")"
  expect "$label no planted program ran" 0 "$(planted_runs)"
  expect "$label the system's shutdown ran" 1 "$(fixture_log runs | grep -ci '^C:\\windows\\system32\\shutdown.exe|shutdown -r -f|C:\\windows\\system32$')"
  # Stopped by the system's taskkill, then started again at both paths: two, not three.
  expect "$label the companion was stopped and started again at both paths" 2 "$(settled 2 brindle_running_count)"
  restore_comspec
  remove_users_comspec
done

# ----- each power failure in its own box, answered by a real click -----
# FUNCTION OCCURRENCE TIMES TEXT LOCKED(yes when the failure comes after the lock, at the
# finish) BIOS (47K31RA9: the run flashes and restarts)
while IFS='|' read -r function occurrence times text locked bios; do
  label="$function fails ($text):"
  fresh_run
  fixtures_fail "$function" "$occurrence" "$times"
  start_from_downloads "$bios"
  if wait_question; then answer_question "$IDYES"; fi
  if wine_driver wait-window "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$BOX_WAIT_MS" >/dev/null 2>&1; then
    expect "$label text" "$text" "$(box_text)"
    expect "$label OK only" "$IDOK OK" "$(box_buttons)"
    expect "$label no icon" none "$(wine_driver icon "$MESSAGE_BOX_CLASS" "$APP_CAPTION" | tr -d '\r')"
    wine_driver press "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$IDOK" >/dev/null 2>&1
    wine_driver wait-gone "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$BOX_GONE_MS" >/dev/null 2>&1 &&
      answered=yes || answered=no
    expect "$label a real click on OK closes the box" yes "$answered"
    # A box the click could not reach is closed the way no person can, so the run may end.
    [[ $answered == yes ]] || wine_driver click "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$IDOK" >/dev/null 2>&1
  else
    expect "$label box shown" shown "not shown"
  fi
  wait_program
  expect "$label exits 0" 0 "$(report_field exit "$(cat "$report_file")")"
  expect "$label no planted program ran" 0 "$(planted_runs)"
  if [[ $locked == no ]]; then
    expect "$label companion still running" 1 "$(brindle_running_count | tr -d '\r')"
    expect "$label nothing was locked: companion never stopped" 1 "$(fixture_log brindle | grep -c 'Quilden')"
    expect "$label nothing was applied" 0 "$(fixture_log powrprof | grep -c '^SetActivePwrScheme ok')"
  fi
  [[ $locked == yes ]] && expect "$label companion started again at both paths" 2 "$(settled 2 brindle_running_count)"
  expect "$label restart requested" "$([[ $bios == 47K31RA9 ]] && echo 1 || echo 0)" \
    "$(restart_requests)"
  expect "$label working folder gone" no "$(exists "$WORK_DIR")"
done <<'CASES'
CanUserWritePwrScheme|1|1|CanUserWritePwrScheme Error|no|Wine
ReadGlobalPwrPolicy|1|1|ReadGlobalPwrPolicy Error|no|Wine
GetActivePwrScheme|1|1|GetActivePwrScheme Error|no|Wine
SetActivePwrScheme|1|1|SAVE SetActivePwrScheme Error|no|Wine
SetActivePwrScheme|2|2|RESTORE SetActivePwrScheme Error|yes|47K31RA9
CASES

# ----- the companion at both paths -----
fresh_run
start_from_downloads Wine
if wait_question; then answer_question "$IDYES"; fi
wait_program
expect "refused run: no planted program ran" 0 "$(planted_runs)"
expect "companion started by the user and relaunched at the first path" 2 \
  "$(settled 2 log_count brindle "start ${COMPANION_WINS[0]}")"
expect "companion relaunched at the second path" 1 "$(settled 1 log_count brindle "start ${COMPANION_WINS[1]}")"
expect "both companions run after the finish" 2 "$(settled 2 brindle_running_count)"
wine_exec taskkill /F /IM Brindle.exe >/dev/null 2>&1

# ----- while the flash tool runs: the machine kept awake, no end of the session -----
# Windows asks every top-level window before a shut-down or restart with a sent
# WM_QUERYENDSESSION, lParam 0. Asked so from another process while the tool runs, the window
# refuses, restores nothing, and the run goes on to its restart. Wine keeps nothing awake and
# shows no reason, so what the updater asks of it is read from a relay trace of those calls
# alone: the machine kept awake from the lock to the finish, the reason given while the tool
# runs, all on the window's thread.
readonly RELAY_KEY='HKCU\Software\Wine\Debug'
readonly RELAY_CALLS='SetThreadExecutionState;ShutdownBlockReasonCreate;ShutdownBlockReasonDestroy;PowerCreateRequest;PowerSetRequest;PowerClearRequest'
readonly WINDOW_CAPTION='BIOS Update Program'
readonly SHUTDOWN_OR_RESTART=0
readonly SESSION_FLASH_MS=4000
readonly FLASH_START_POLLS=400
readonly FLASH_POLL_S=0.1
# The traced calls in order, each as THREAD:NAME(ARGUMENTS) with the DLL's name left out, and
# the reason's answer as THREAD:ShutdownBlockReasonCreate=RETVAL.
traced_calls() {
  tail -c "+$1" "$WINE_STATE_DIR/wine.log" | tr -d '\r' | sed -n \
    -e 's/^\([0-9a-f]*\):Call [A-Za-z0-9_]*\.\(SetThreadExecutionState\|ShutdownBlockReason[A-Za-z]*\|Power[A-Za-z]*Request\)\((.*)\) ret=.*$/\1:\2\3/p' \
    -e 's/^\([0-9a-f]*\):Ret  [A-Za-z0-9_]*\.\(ShutdownBlockReasonCreate\|PowerCreateRequest\)() retval=\([0-9a-f]*\) .*$/\1:\2=\3/p'
}

label="query to end the session during the flash:"
fresh_run
wine_exec reg add "$RELAY_KEY" /v RelayInclude /t REG_SZ /d "$RELAY_CALLS" /f >/dev/null 2>&1
trace_from=$(($(stat -c %s "$WINE_STATE_DIR/wine.log") + 1))
export WINEDEBUG=+relay WINFLASH_DELAY_MS=$SESSION_FLASH_MS
start_from_downloads 47K31RA9
export WINEDEBUG=-all
unset WINFLASH_DELAY_MS
if wait_question; then answer_question "$IDYES"; fi
for ((poll = 0; poll < FLASH_START_POLLS; poll++)); do
  flash_tool_running && break
  sleep "$FLASH_POLL_S"
done
expect "$label the flash tool runs" 1 "$(running_count "$FLASH_TOOL_IMAGE")"
expect "$label refused" 0 "$(wine_driver query-end-session "$MESSAGE_BOX_CLASS" "$WINDOW_CAPTION" "$SHUTDOWN_OR_RESTART" | tr -d '\r')"
expect "$label the flash tool still runs after the answer" 1 "$(running_count "$FLASH_TOOL_IMAGE")"
wait_program
wine_exec reg delete "$RELAY_KEY" /v RelayInclude /f >/dev/null 2>&1
expect "$label exits 0" 0 "$(report_field exit "$(cat "$report_file")")"
expect "$label the restart follows the flash" 1 "$(restart_requests)"
expect "$label nothing restored but by the finish (the save and one restore)" 2 \
  "$(fixture_log powrprof | grep -c '^SetActivePwrScheme ok')"
calls=$(traced_calls "$trace_from")
# Wine 8 refuses every reason (a stub); a reason Windows took is destroyed after the flash.
reason_taken=$(sed -n 's/^[0-9a-f]*:ShutdownBlockReasonCreate=0*\([1-9a-f][0-9a-f]*\)$/yes/p' <<<"$calls")
# The power request is created at the lock. Wine 8 refuses it (INVALID_HANDLE_VALUE, a stub);
# a request Windows gave is set for display (0), system (1) and execution (3) and cleared at the
# finish, each type by number; its handle and its reason (a pointer) are left out here.
request=$(sed -n 's/^[0-9a-f]*:PowerCreateRequest=0*//p' <<<"$calls")
readonly REQUEST_REFUSED=ffffffffffffffff
expected_calls='SetThreadExecutionState(80000003) PowerCreateRequest'
[[ $request != "$REQUEST_REFUSED" ]] && expected_calls+=' PowerSetRequest(0) PowerSetRequest(1) PowerSetRequest(3)'
expected_calls+=' ShutdownBlockReasonCreate'
[[ $reason_taken == yes ]] && expected_calls+=' ShutdownBlockReasonDestroy'
[[ $request != "$REQUEST_REFUSED" ]] && expected_calls+=' PowerClearRequest(0) PowerClearRequest(1) PowerClearRequest(3)'
expected_calls+=' SetThreadExecutionState(80000000)'
echo "$label PowerCreateRequest answered ${request:-nothing}"
expect "$label calls in order" "$expected_calls" \
  "$(grep -v '=' <<<"$calls" | sed -e 's/^[0-9a-f]*://' -e 's/^\(ShutdownBlockReason[A-Za-z]*\|PowerCreateRequest\)(.*/\1/' \
    -e 's/^\(Power[A-Za-z]*Request\)([0-9a-f]*,0*\([0-9a-f][0-9a-f]*\))$/\1(\2)/' | paste -sd ' ')"
[[ $request != "$REQUEST_REFUSED" ]] &&
  expect "$label every set and clear is on the request created" "${request:-none} x6" \
    "$(sed -n 's/^[0-9a-f]*:Power[SC][a-z]*Request(0*\([0-9a-f]*\),.*/\1/p' <<<"$calls" | sort | uniq -c | awk '{ print $2 " x" $1 }' | paste -sd ' ')"
expect "$label the reason given" 'ShutdownBlockReasonCreate(WINDOW,L"Do not turn off the power.")' \
  "$(grep -v '=' <<<"$calls" | grep ShutdownBlockReasonCreate | sed -e 's/^[0-9a-f]*://' -e 's/([0-9a-f]*,[0-9a-f]* L"/(WINDOW,L"/')"
expect "$label all on one thread" 1 "$(cut -d: -f1 <<<"$calls" | grep . | sort -u | wc -l)"

# ----- a session end agreed to before the flash, then called off -----
# Asked after the screen is covered and before the tool starts, the window agrees and puts the
# power back; told the end was called off (WM_ENDSESSION, wParam FALSE), it locks again: the
# flash runs with the legacy policy and the settings in force on "do nothing" (looked at while
# the tool runs), and after the run all of it is the machine's own again.
readonly CALLED_OFF=0
readonly LEGACY_OFF='0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000'
readonly FLASH_LOOKED="$WINEPREFIX/drive_c/fixture-logs/flash-looked"
readonly FLASH_LOOK_BOUND_MS=60000
label="session end called off before the flash:"
fresh_run
power_settings_seed
policies_before=$(power_policy_triples)
rm -f "$FLASH_LOOKED"
export WINFLASH_LOG=$FLASH_TOOL_LOG_WIN WINFLASH_UNTIL_FILE='C:\fixture-logs\flash-looked' WINFLASH_DELAY_MS=$FLASH_LOOK_BOUND_MS
start_from_downloads 47K31RA9
unset WINFLASH_UNTIL_FILE WINFLASH_DELAY_MS
if wait_question && answer_question "$IDYES" && wait_covered >/dev/null; then
  expect "$label the flash tool has not started" 0 "$(running_count "$FLASH_TOOL_IMAGE")"
  expect "$label the query is agreed to" 1 \
    "$(wine_driver query-end-session "$MESSAGE_BOX_CLASS" "$WINDOW_CAPTION" "$SHUTDOWN_OR_RESTART" | tr -d '\r')"
  expect "$label settings back once agreed" "$SEEDED_SETTINGS" "$(power_settings_in_force)"
  wine_driver end-session "$MESSAGE_BOX_CLASS" "$WINDOW_CAPTION" "$CALLED_OFF" "$SHUTDOWN_OR_RESTART" >/dev/null
  settings_look_in_flash
  expect "$label legacy policy off during the flash" "$LEGACY_OFF" "$(power_policy_triples)"
  expect "$label settings in force off during the flash" "$SETTINGS_OFF" "$(cat "$FIXTURE_SETTINGS_LOOK")"
  touch "$FLASH_LOOKED"
else
  expect "$label the question answered and the screen covered" yes no
fi
wait_program
expect "$label exits 0" 0 "$(report_field exit "$(cat "$report_file")")"
expect "$label the restart follows the flash" 1 "$(restart_requests)"
expect "$label legacy policy back after the run" "$(restored_triples "$policies_before")" "$(power_policy_triples)"
expect "$label settings in force after the run: the seeded ones" "$SEEDED_SETTINGS" "$(power_settings_in_force)"
expect "$label settings stored after the run: the seeded ones" "$SEEDED_SETTINGS" "$(power_settings_stored)"
rm -f "$FLASH_LOOKED" "$FIXTURE_SETTINGS_LOOK"

finish
