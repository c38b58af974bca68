#!/usr/bin/env bash
# The power supply as Wine reads it from /sys/class/power_supply, faked by umockdev beside the
# BIOS version: on the battery (6 %) the update is refused after the checks with its text (in
# English, and in Korean on a Korean system), nothing is flashed or restarted and everything is
# put back; on mains with the battery at 80 % it is flashed.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly MARKER_VALUE='1.15.1404.0702'
readonly COMPANION_WIN='C:\Program Files\Norvik Software\Quilden\Brindle.exe'
readonly FLASH_COMMAND='C:\Program Files\BIOSUPDATE\WinFlash64.exe /cvar /bbl /sd /file 47K31RB4.cap /nodelay'
readonly OLDER_BIOS=47K31RA9
readonly BATTERY_FULL=4300000
export WINFLASH_LOG=$FLASH_TOOL_LOG_WIN WINFLASH_DELAY_MS=2000
# The texts the window drew (drawn_texts).
export WINEDEBUG=-all,+text
readonly NO_AC_ENGLISH='Connect the AC adapter to update BIOS.'
readonly NO_AC_KOREAN='BIOS 업데이트를 하려면 AC 어댑터를 연결하십시오.'

report_file=$(mktemp)
trap 'fixtures_uninstall; rm -f "$report_file"' EXIT
fixtures_install || { expect "fixtures install" ok failed; finish; exit 1; }
brindle_install "$COMPANION_WIN"

# case: label, mains online, charge now, outcome
for case in "battery-6% 0 300000 refuse" "battery-6%-korean 0 300000 refuse" "mains-80% 1 3440000 flash"; do
  read -r label online charge outcome <<<"$case"
  if [[ $label == *korean ]]; then wine_locale ko_KR.UTF-8; else wine_locale default; fi
  fixtures_reset
  power_settings_seed
  rm -f "$FIXTURE_LOG_DIR/winflash.log"
  wine_exec reg delete 'HKU\.DEFAULT\Software\NRVK' /f >/dev/null 2>&1
  brindle_start "$COMPANION_WIN"
  before=$(power_policy_triples)
  trace_from=$(wc -l <"$WINE_STATE_DIR/wine.log")
  FIXTURE_MAINS_ONLINE=$online FIXTURE_BATTERY_CHARGE_NOW=$charge FIXTURE_BATTERY_CHARGE_FULL=$BATTERY_FULL \
    bios_version_run "$OLDER_BIOS" run_program >"$report_file" 2>&1 &
  program_pid=$!
  if wait_question; then answer_question "$IDYES"; else expect "$label: the question is shown" shown "not shown"; fi
  wait_program
  facts=$(update_outcome "$report_file")
  expect "$label exits 0" 0 "$(fact_of exit "$facts")"
  expect "$label marker" "REG_SZ $MARKER_VALUE" "$(fact_of marker "$facts")"
  if [[ $outcome == flash ]]; then
    expect "$label flashed" "$FLASH_COMMAND" "$(fact_of flash_cmdline "$facts")"
    expect "$label restart requested once" 1 "$(fact_of runs "$facts" | tr '#' '\n' | grep -c '|shutdown -r -f|')"
  else
    expected_text=$NO_AC_ENGLISH
    [[ $label == *korean ]] && expected_text=$(traced "$NO_AC_KOREAN")
    expect "$label refusal text drawn last" "$expected_text" "$(drawn_texts | tail -n 1)"
    expect "$label nothing flashed" "" "$(fact_of flash_cmdline "$facts")"
    expect "$label no restart" "" "$(fact_of runs "$facts")"
  fi
  expect "$label policies back after the run" "$(restored_triples "$before")" "$(fact_of policies_after "$facts")"
  expect "$label settings in force after the run: the seeded ones" "$SEEDED_SETTINGS" "$(fact_of settings_after "$facts")"
  expect "$label companion running again" 1 "$(fact_of companion_after "$facts")"
  expect "$label working folder gone" no "$(fact_of work_dir_after "$facts")"
done
wine_locale default

finish
