#!/usr/bin/env bash
# Whole update runs of the twin on the running BIOS that umockdev makes Wine report: the
# stand-in flash tool runs with its command line in the working folder only when the capsule
# is newer; the marker is written; "shutdown -r -f" runs only after a flash; and every run
# ends with exit code 0, the power policies and settings back, the companion running again and
# the working folder gone. The power settings in force are off from the lock on (looked at
# while the flash tool runs) and exactly the seeded ones after the run.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly MARKER_VALUE='1.15.1404.0702'
readonly COMPANION_WIN='C:\Program Files\Norvik Software\Quilden\Brindle.exe'
readonly FLASH_TOOL_RUN_MS=2000
readonly FLASH_COMMAND='C:\Program Files\BIOSUPDATE\WinFlash64.exe /cvar /bbl /sd /file 47K31RB4.cap /nodelay'
readonly FLASH_DIRECTORY='C:\Program Files\BIOSUPDATE'
readonly APP_CAPTION=BIOSUpdate
readonly IDOK=1
# From the worker's start to the flash tool's: the pauses of the update sequence.
readonly WORKER_TO_FLASH_MS=12000
# From the window covering the screen to the worker's start: 500 ms wait, 500 ms timer.
readonly COVER_TO_WORKER_MS=1000
readonly TIMING_TOLERANCE_PERCENT=10
# The flash tool's console, a window of its own (CREATE_NEW_CONSOLE, captioned with the tool's
# path), appears above nothing for long: the updater puts its window back on top ten times a
# second. From the first look that finds the console, the window must be above it within
# ABOVE_WITHIN_MS, and stay there while the order is watched for ABOVE_WATCH_MS.
readonly ABOVE_WITHIN_MS=200 ABOVE_WATCH_MS=1500
# The tool runs until the looks during the flash are taken, at most this long.
readonly FLASH_TOOL_BOUND_MS=60000
readonly FLASH_LOOKED="$WINEPREFIX/drive_c/fixture-logs/flash-looked"
export WINFLASH_LOG=$FLASH_TOOL_LOG_WIN WINFLASH_DELAY_MS=$FLASH_TOOL_RUN_MS

report_file=$(mktemp)
trap 'fixtures_uninstall; rm -f "$report_file" "$above_file"' EXIT
fixtures_install || { expect "fixtures install" ok failed; finish; exit 1; }
brindle_install "$COMPANION_WIN"

# Starts the updater with Wine reporting VERSION ("-" for Wine's own answer), answers Yes,
# and waits for its end; with "flash", watches the z-order of the flash tool's console against
# the updater's window meanwhile (into above_file). Sets covered_ms.
above_file=$(mktemp)
run_update() {
  local version=$1 outcome=$2 above_pid=
  if [[ $version == - ]]; then start_program "$report_file"; else
    bios_version_run "$version" run_program >"$report_file" 2>&1 &
    program_pid=$!
  fi
  covered_ms=
  if wait_question; then
    answer_question "$IDYES"
    read -r covered_ms _ < <(wait_covered)
    if [[ $outcome == flash ]]; then
      wine_driver above-watch '#32770' 'BIOS Update Program' WinFlash64.exe "$RUN_TIMEOUT_MS" \
        "$ABOVE_WATCH_MS" >"$above_file" 2>&1 &
      above_pid=$!
      settings_look_in_flash
      wait "$above_pid"
      above_pid=
      touch "$FLASH_LOOKED"
    fi
  else
    expect "$version: the question is shown" shown "not shown"
  fi
  wait_program
  [[ -n $above_pid ]] && wait "$above_pid"
}
above_fact() { sed -n "s/^$1=//p" "$above_file" | tr -d '\r'; }

check_run() {  # check_run VERSION OUTCOME(flash|refuse) POLICY_BEFORE
  local version=$1 outcome=$2 before=$3 label="BIOS $1" facts
  facts=$(update_outcome "$report_file")
  expect "$label exits 0" 0 "$(fact_of exit "$facts")"
  expect "$label marker" "REG_SZ $MARKER_VALUE" "$(fact_of marker "$facts")"
  if [[ $outcome == flash ]]; then
    expect "$label flash tool command line" "$FLASH_COMMAND" "$(fact_of flash_cmdline "$facts")"
    expect "$label flash tool working directory" "$FLASH_DIRECTORY" "$(fact_of flash_cwd "$facts")"
    expect "$label flash tool accepted the capsule" 0 "$(fact_of flash_exit "$facts")"
    expect "$label restart requested once" 1 "$(fact_of runs "$facts" | tr '#' '\n' | grep -c '|shutdown -r -f|')"
    echo "$label: the flash tool's console against the window: $(tr -d '\r' <"$above_file" | paste -sd' ')"
    expect "$label flash tool's console window appears" 1 "$(above_fact appeared)"
    expect "$label the window above the console within ${ABOVE_WITHIN_MS} ms" yes \
      "$(above=$(above_fact above_after_ms); [[ $above =~ ^[0-9]+$ ]] && ((above <= ABOVE_WITHIN_MS)) &&
        echo yes || echo "no (${above:-nothing}; $(tr -d '\r' <"$above_file" | paste -sd' '))")"
    expect "$label the window stays above the console (looks that found it below)" 0 \
      "$(above_fact below_after_looks)"
    if [[ -n $covered_ms ]]; then
      local started delta low high
      started=$(flash_log_field startms)
      delta=$(( started - covered_ms - COVER_TO_WORKER_MS ))
      low=$(( WORKER_TO_FLASH_MS * (100 - TIMING_TOLERANCE_PERCENT) / 100 ))
      high=$(( WORKER_TO_FLASH_MS * (100 + TIMING_TOLERANCE_PERCENT) / 100 ))
      echo "$label: flash tool started $delta ms after the worker (from the screen covered at +${COVER_TO_WORKER_MS} ms)"
      expect "$label flash starts ${WORKER_TO_FLASH_MS} ms after the worker, within ${TIMING_TOLERANCE_PERCENT}%" yes \
        "$( (( delta >= low && delta <= high )) && echo yes || echo "no ($delta ms)")"
    fi
  else
    expect "$label nothing flashed" "" "$(fact_of flash_cmdline "$facts")"
    expect "$label no restart" "" "$(fact_of runs "$facts")"
  fi
  expect "$label buttons and lid do nothing during the run" \
    "0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000" "$(fact_of first_applied "$facts")"
  expect "$label policies back after the run" "$(restored_triples "$before")" "$(fact_of policies_after "$facts")"
  expect "$label settings put in force at the lock: all off" "$SETTINGS_OFF" "$(fact_of settings_first_applied "$facts")"
  [[ $outcome == flash ]] &&
    expect "$label settings in force during the flash: all off" "$SETTINGS_OFF" "$(fact_of settings_in_flash "$facts")"
  expect "$label settings in force after the run: the seeded ones" "$SEEDED_SETTINGS" "$(fact_of settings_after "$facts")"
  expect "$label settings stored after the run: the seeded ones" "$SEEDED_SETTINGS" "$(fact_of settings_stored_after "$facts")"
  expect "$label companion running again" 1 "$(fact_of companion_after "$facts")"
  expect "$label companion stopped and started again" \
    "start $COMPANION_WIN#start $COMPANION_WIN" "$(fact_of brindle "$facts")"
  expect "$label working folder gone" no "$(fact_of work_dir_after "$facts")"
}

# No logs, no marker, the default power policy, the seeded settings, the companion running.
fresh_machine() {
  fixtures_reset
  power_settings_seed
  rm -f "$FIXTURE_LOG_DIR/winflash.log" "$FLASH_LOOKED"
  wine_exec reg delete 'HKU\.DEFAULT\Software\NRVK' /f >/dev/null 2>&1
  brindle_start "$COMPANION_WIN"
}

for case in "47k31ra9 flash" "47K31RB4 refuse" "47K31RC1 refuse" "47K31FB4 refuse" "- refuse"; do
  read -r version outcome <<<"$case"
  fresh_machine
  before=$(power_policy_triples)
  : >"$above_file"
  if [[ $outcome == flash ]]; then
    WINFLASH_UNTIL_FILE='C:\fixture-logs\flash-looked' WINFLASH_DELAY_MS=$FLASH_TOOL_BOUND_MS run_update "$version" "$outcome"
  else
    run_update "$version" "$outcome"
  fi
  check_run "$version" "$outcome" "$before"
done

# A flash tool that cannot be written (a folder stands in its place) cannot be started: the
# message box, exit code 0, no marker, no restart, the locks undone.
fresh_machine
mkdir -p "$WORK_DIR/WinFlash64.exe"
bios_version_run 47K31RA9 run_program >"$report_file" 2>&1 &
program_pid=$!
if wait_question; then
  answer_question "$IDYES"
  if wine_driver wait-window "$MESSAGE_BOX_CLASS" "$APP_CAPTION" 30000 >/dev/null 2>&1; then
    expect "unstartable tool: message" "Cannot excute WinFlash64.exe" \
      "$(wine_driver text "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$TEXT_ID" | tr -d '\r')"
    expect "unstartable tool: OK only" "$IDOK OK" \
      "$(wine_driver buttons "$MESSAGE_BOX_CLASS" "$APP_CAPTION" | tr -d '\r' | paste -sd '|')"
    wine_driver click "$MESSAGE_BOX_CLASS" "$APP_CAPTION" "$IDOK" >/dev/null 2>&1
  else
    expect "unstartable tool: the message box is shown" shown "not shown"
  fi
fi
wait_program
facts=$(update_outcome "$report_file")
expect "unstartable tool: exit 0" 0 "$(fact_of exit "$facts")"
expect "unstartable tool: no marker" "" "$(fact_of marker "$facts")"
expect "unstartable tool: no restart" "" "$(fact_of runs "$facts")"
expect "unstartable tool: companion running again" 1 "$(fact_of companion_after "$facts")"
rm -rf "$WORK_DIR"

finish
