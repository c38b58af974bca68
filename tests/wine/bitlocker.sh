#!/usr/bin/env bash
# BitLocker under Wine, with the manage-bde.exe stand-in in the 64-bit system folder: on a
# protected volume the updater asks the status, suspends for one restart and asks again, all
# before the flash tool starts, then flashes and restarts with the suspension left in force; on
# an unprotected one it only asks; a suspension that fails or does not hold means no flash, the
# refusal text (in English, and in Korean on a Korean system), exit 0, everything put back and
# protection on again; a refused update never runs manage-bde; a flash tool that cannot be
# started after a suspension resumes protection.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly MARKER_VALUE='1.15.1404.0702'
readonly COMPANION_WIN='C:\Program Files\Norvik Software\Quilden\Brindle.exe'
readonly FLASH_COMMAND='C:\Program Files\BIOSUPDATE\WinFlash64.exe /cvar /bbl /sd /file 47K31RB4.cap /nodelay'
readonly OLDER_BIOS=47K31RA9
readonly CARRIED_BIOS=47K31RB4
readonly APP_CAPTION=BIOSUpdate
readonly IDOK=1
# What the twin starts (the Windows folder's System32) and what ran there, as the stand-in logs.
readonly MANAGE_BDE='"C:\windows\System32\manage-bde.exe"'
readonly RAN_AS='C:\windows\system32\manage-bde.exe|64-bit'
readonly STATUS="$MANAGE_BDE -status C: -ProtectionAsErrorLevel"
readonly SUSPEND="$MANAGE_BDE -protectors -disable C: -RebootCount 1"
readonly RESUME="$MANAGE_BDE -protectors -enable C:"
# The stand-in's exit when it refuses a suspension (ERROR_ACCESS_DENIED).
readonly REFUSED_EXIT=5
readonly NOT_SUSPENDED_ENGLISH='BitLocker could not be suspended. Suspend BitLocker, then update BIOS.'
readonly NOT_SUSPENDED_KOREAN='BitLocker를 일시 중단할 수 없습니다. BitLocker를 일시 중단한 후 BIOS를 업데이트하십시오.'
export WINFLASH_LOG=$FLASH_TOOL_LOG_WIN WINFLASH_DELAY_MS=1000
# The texts the window drew (drawn_texts).
export WINEDEBUG=-all,+text

report_file=$(mktemp)
trap 'fixtures_uninstall; rm -f "$report_file"' EXIT
fixtures_install && bitlocker_install || { expect "fixtures install" ok failed; finish; exit 1; }
brindle_install "$COMPANION_WIN"

joined() { paste -sd'#'; }
# Each run's manage-bde command lines, exits and the width it ran with, '#'-joined.
commands_run() { manage_bde_field 3 | joined; }
exits_run() { manage_bde_field 4 | joined; }
ran_as() { paste -d'|' <(manage_bde_field 1) <(manage_bde_field 2) | sort -u | joined; }
# Whether every manage-bde run had ended when the flash tool started (both in ms since 1970).
all_before_flash() {
  local started last
  started=$(flash_log_field startms)
  last=$(manage_bde_field 5 | sed 's/^endms=//' | sort -n | tail -n 1)
  [[ $started =~ ^[0-9]+$ && $last =~ ^[0-9]+$ ]] || { echo "no times (flash ${started:-none}, manage-bde ${last:-none})"; return; }
  ((last <= started)) && echo yes || echo "no (manage-bde ended $((last - started)) ms after the flash tool started)"
}

# No logs, no marker, no BitLocker state, the default power state, the companion running.
fresh_machine() {
  fixtures_reset
  rm -f "$FIXTURE_LOG_DIR/winflash.log"
  wine_exec reg delete 'HKU\.DEFAULT\Software\NRVK' /f >/dev/null 2>&1
  bitlocker_state "$1"
  brindle_start "$COMPANION_WIN"
}

# label | volume | running BIOS | supply (mains, or battery at 6 %) | locale | manage-bde command
# lines | their exits | outcome (flash, refuse: the BitLocker refusal, none: an earlier refusal)
# | the suspension in force after the run
readonly CASES=(
  "protected|protected|$OLDER_BIOS|mains|default|$STATUS#$SUSPEND#$STATUS|exit=0#exit=0#exit=1|flash|1"
  "not protected|not-protected|$OLDER_BIOS|mains|default|$STATUS|exit=1|flash|"
  "suspension refused|suspend-refused|$OLDER_BIOS|mains|default|$STATUS#$SUSPEND#$RESUME|exit=0#exit=$REFUSED_EXIT#exit=0|refuse|"
  "suspension refused, Korean|suspend-refused|$OLDER_BIOS|mains|ko_KR.UTF-8|$STATUS#$SUSPEND#$RESUME|exit=0#exit=$REFUSED_EXIT#exit=0|refuse|"
  "suspension does not hold|suspend-does-not-hold|$OLDER_BIOS|mains|default|$STATUS#$SUSPEND#$STATUS#$RESUME|exit=0#exit=0#exit=0#exit=0|refuse|"
  "same version|protected|$CARRIED_BIOS|mains|default|||none|"
  "on battery|protected|$OLDER_BIOS|battery|default|||none|"
)

for case in "${CASES[@]}"; do
  IFS='|' read -r label volume bios supply locale commands exits outcome suspension <<<"$case"
  wine_locale "$locale"
  fresh_machine "$volume"
  before=$(power_policy_triples)
  trace_from=$(wc -l <"$WINE_STATE_DIR/wine.log")
  if [[ $supply == battery ]]; then
    FIXTURE_MAINS_ONLINE=0 FIXTURE_BATTERY_CHARGE_NOW=300000 bios_version_run "$bios" run_program >"$report_file" 2>&1 &
  else
    bios_version_run "$bios" run_program >"$report_file" 2>&1 &
  fi
  program_pid=$!
  if wait_question; then answer_question "$IDYES"; else expect "$label: the question is shown" shown "not shown"; fi
  wait_program
  facts=$(update_outcome "$report_file")
  expect "$label: manage-bde command lines" "$commands" "$(commands_run)"
  expect "$label: manage-bde exits" "$exits" "$(exits_run)"
  [[ -n $commands ]] && expect "$label: the 64-bit manage-bde of the system folder ran" "$RAN_AS" "$(ran_as)"
  expect "$label: suspension in force after the run" "$suspension" "$(bitlocker_suspension)"
  expect "$label: exits 0" 0 "$(fact_of exit "$facts")"
  expect "$label: marker" "REG_SZ $MARKER_VALUE" "$(fact_of marker "$facts")"
  if [[ $outcome == flash ]]; then
    expect "$label: manage-bde done before the flash tool started" yes "$(all_before_flash)"
    expect "$label: flashed" "$FLASH_COMMAND" "$(fact_of flash_cmdline "$facts")"
    expect "$label: restart requested once" 1 "$(fact_of runs "$facts" | tr '#' '\n' | grep -c '|shutdown -r -f|')"
  else
    expect "$label: nothing flashed" "" "$(fact_of flash_cmdline "$facts")"
    expect "$label: no restart" "" "$(fact_of runs "$facts")"
  fi
  if [[ $outcome == refuse ]]; then
    expected_text=$NOT_SUSPENDED_ENGLISH
    [[ $locale == ko_KR.UTF-8 ]] && expected_text=$(traced "$NOT_SUSPENDED_KOREAN")
    expect "$label: refusal text drawn last" "$expected_text" "$(drawn_texts | tail -n 1)"
    expect "$label: policies back after the run" "$(restored_triples "$before")" "$(fact_of policies_after "$facts")"
    expect "$label: companion running again" 1 "$(fact_of companion_after "$facts")"
    expect "$label: working folder gone" no "$(fact_of work_dir_after "$facts")"
  fi
done
wine_locale default

# A flash tool that cannot be written (a folder stands in its place) cannot be started, after
# the suspension: protection is turned on again, nothing is flashed or restarted.
fresh_machine protected
mkdir -p "$WORK_DIR/WinFlash64.exe"
bios_version_run "$OLDER_BIOS" run_program >"$report_file" 2>&1 &
program_pid=$!
if wait_question; then
  answer_question "$IDYES"
  if wine_driver wait-window "$MESSAGE_BOX_CLASS" "$APP_CAPTION" 30000 >/dev/null 2>&1; then
    wine_driver click "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$IDOK" >/dev/null 2>&1
  else
    expect "unstartable tool: the message box is shown" shown "not shown"
  fi
else
  expect "unstartable tool: the question is shown" shown "not shown"
fi
wait_program
facts=$(update_outcome "$report_file")
expect "unstartable tool: manage-bde command lines" "$STATUS#$SUSPEND#$STATUS#$RESUME" "$(commands_run)"
expect "unstartable tool: no suspension left" "" "$(bitlocker_suspension)"
expect "unstartable tool: no restart" "" "$(fact_of runs "$facts")"
rm -rf "$WORK_DIR"

finish
