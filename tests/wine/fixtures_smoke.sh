#!/usr/bin/env bash
# The stand-ins of fixtures.sh work in the shared prefix: the powrprof.dll stand-in reads,
# stores and fails on request for the programs it is meant for and no other; the recorder
# sees a restart through cmd.exe and loses no line when many log at once; Brindle.exe runs
# until taskkill ends it; Wine reports the BIOS version bios_version_run gives; uninstall
# leaves the prefix as it found it.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

readonly PROBE=power_probe.exe
# The same probe under a name without the DLL override: it must get Wine's own DLL.
readonly OTHER_PROBE=other_probe.exe
readonly PROBE_WIN_DIR='C:\users\Public\Downloads'
readonly SYSTEM_WIN_DIR='C:\windows\system32'
readonly STAND_IN_DLL_WIN="$SYSTEM_WIN_DIR\\powrprof.dll"
readonly POWER_FUNCTIONS_SORTED="CanUserWritePwrScheme GetActivePwrScheme PowerGetActiveScheme PowerReadACValueIndex PowerReadDCValueIndex PowerSetActiveScheme PowerWriteACValueIndex PowerWriteDCValueIndex ReadGlobalPwrPolicy SetActivePwrScheme"
readonly ACCESS_DENIED=5
# The default policies with PowerButtonAc set to none, as the probe stores them.
readonly PROBE_TRIPLES="0/${FIXTURE_DEFAULT_TRIPLES#*/}"
readonly BRINDLE_64_WIN='C:\Program Files\Norvik Software\Quilden\Brindle.exe'
readonly BRINDLE_32_WIN='C:\Program Files (x86)\Norvik Software\Quilden\Brindle.exe'
readonly NORVIK_DIRS=("$WINEPREFIX/drive_c/Program Files/Norvik Software"
  "$WINEPREFIX/drive_c/Program Files (x86)/Norvik Software")
# A folder every user may write, as an attacker would use.
readonly PLANTED_WIN="$PROBE_WIN_DIR\\WinFlash64.exe"
readonly PLANTED="$PROGRAM_DIR/WinFlash64.exe"
readonly BIOS_VERSION=47k31ra9
readonly OTHER_BIOS_VERSION=47k31rb4
readonly CONCURRENT_RUNS=40
readonly GONE_WAIT_S=5
readonly OBJDUMP=x86_64-w64-mingw32-objdump

took() { echo "$1 took $(($(now_ms) - $2)) ms"; }
joined() { paste -sd'|'; }
status_of() { "$@" >/dev/null 2>&1; echo $?; }
sha() { sha256sum <"$1" | cut -d' ' -f1; }
# A console program's output ends its lines in "\r\n".
probe() { wine_exec "$PROBE_WIN_DIR\\$1" "${@:2}" | tr -d '\r'; }
reg_has() { status_of wine_exec reg query "$@"; }

installed=no
cleanup() {
  [[ $installed == yes ]] && fixtures_uninstall
  rm -f "$PROGRAM_DIR/$PROBE" "$PROGRAM_DIR/$OTHER_PROBE"
}
trap cleanup EXIT

check_exports() {
  expect "powrprof.dll exports exactly the ten power calls (legacy and settings)" "$POWER_FUNCTIONS_SORTED" \
    "$("$OBJDUMP" -p "$FIXTURES_BIN/powrprof.dll" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | sort | xargs)"
}

check_read_and_store() {
  local start out
  fixtures_reset
  start=$(now_ms)
  out=$(probe "$PROBE")
  took "probe run" "$start"
  expect "probe: loads the stand-in and reads the default state" \
    "module $STAND_IN_DLL_WIN|CanUserWritePwrScheme ok|ReadGlobalPwrPolicy ok $FIXTURE_DEFAULT_TRIPLES|GetActivePwrScheme ok $FIXTURE_DEFAULT_SCHEME|SetActivePwrScheme ok" \
    "$(joined <<<"$out")"
  expect "log: the load, each call, and what was stored" \
    "load $STAND_IN_DLL_WIN|CanUserWritePwrScheme ok|ReadGlobalPwrPolicy ok|GetActivePwrScheme ok|SetActivePwrScheme ok $PROBE_TRIPLES" \
    "$(fixture_log powrprof | joined)"
  expect "stored policy as power_policy_triples decodes it" "$PROBE_TRIPLES" "$(power_policy_triples)"
  expect "stored scheme" "$FIXTURE_DEFAULT_SCHEME" "$(power_active_scheme)"
  expect "a later process reads what was stored" "ReadGlobalPwrPolicy ok $PROBE_TRIPLES" \
    "$(probe "$PROBE" | grep '^ReadGlobalPwrPolicy')"
  fixtures_reset
  expect "reset: back to the default policy" "$FIXTURE_DEFAULT_TRIPLES" "$(power_policy_triples)"
  expect "reset: logs empty" "" "$(fixture_log powrprof)"
}

# FUNCTION | what the probe stores afterwards (it stores only after both reads succeeded)
readonly FAIL_CASES=(
  "CanUserWritePwrScheme|$PROBE_TRIPLES"
  "ReadGlobalPwrPolicy|$FIXTURE_DEFAULT_TRIPLES"
  "GetActivePwrScheme|$FIXTURE_DEFAULT_TRIPLES"
  "SetActivePwrScheme|$FIXTURE_DEFAULT_TRIPLES"
)

check_failures() {
  local case function stored out
  for case in "${FAIL_CASES[@]}"; do
    IFS='|' read -r function stored <<<"$case"
    fixtures_reset
    fixtures_fail "$function"
    out=$(probe "$PROBE")
    expect "$function armed: the call fails with access denied" "$function fail $ACCESS_DENIED" \
      "$(grep "^$function " <<<"$out")"
    expect "$function armed: logged as failing" "$function fail" \
      "$(fixture_log powrprof | grep "^$function " | cut -d' ' -f1-2)"
    expect "$function armed: stored policy" "$stored" "$(power_policy_triples)"
  done
  # Still the log of the last case, SetActivePwrScheme.
  expect "a refused SetActivePwrScheme logs what it was asked to store" \
    "SetActivePwrScheme fail $PROBE_TRIPLES" "$(fixture_log powrprof | grep '^SetActivePwrScheme')"

  fixtures_reset
  fixtures_fail ReadGlobalPwrPolicy 2
  probe "$PROBE" 2 >/dev/null
  expect "occurrence 2: only the second call in the process fails" \
    "ReadGlobalPwrPolicy ok|ReadGlobalPwrPolicy fail" \
    "$(fixture_log powrprof | grep '^ReadGlobalPwrPolicy' | joined)"
  fixtures_reset
  fixtures_fail ReadGlobalPwrPolicy 2
  probe "$PROBE" >/dev/null
  probe "$PROBE" >/dev/null
  expect "occurrence 2: calls are counted per process, not across processes" \
    "ReadGlobalPwrPolicy ok|ReadGlobalPwrPolicy ok" \
    "$(fixture_log powrprof | grep '^ReadGlobalPwrPolicy' | joined)"
  expect "fixtures_fail refuses a name that is no power call" 1 \
    "$(status_of fixtures_fail ReadGlobalPowerPolicy)"
  fixtures_reset
}

check_other_programs_keep_wines_dll() {
  local out
  fixtures_reset
  out=$(probe "$OTHER_PROBE")
  expect "another program: Wine's own DLL, whose reads fail" "ReadGlobalPwrPolicy fail" \
    "$(grep '^ReadGlobalPwrPolicy' <<<"$out" | cut -d' ' -f1-2)"
  expect "another program: the stand-in is not loaded" "" "$(fixture_log powrprof)"
}

check_restart_recorded() {
  fixtures_reset
  (cd "$FIXTURE_SYSTEM_DIR" && wine_exec cmd /c shutdown -r -f)
  expect "cmd /c shutdown -r -f in the system folder runs the recorder" \
    "$SYSTEM_WIN_DIR\\shutdown.exe|shutdown -r -f|$SYSTEM_WIN_DIR" "$(fixture_log runs)"
}

check_recorder_plant() {
  fixtures_reset
  recorder_plant "$PLANTED_WIN"
  wine_exec "$PLANTED_WIN" /x >/dev/null
  expect "a planted recorder logs its path when run" "$PLANTED_WIN" "$(fixture_log runs | cut -d'|' -f1)"
}

check_concurrent_appends() {
  local i pids=() padding pid statuses=()
  fixtures_reset
  # Long lines make a torn or overwritten line likelier to show.
  padding=$(printf '%0256d' 0)
  for ((i = 1; i <= CONCURRENT_RUNS; i++)); do
    wine_exec "$SYSTEM_WIN_DIR\\shutdown.exe" "run$i-$padding" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid"
    statuses+=($?)
  done
  # Tells a recorder that never ran from a line that got lost.
  expect "$CONCURRENT_RUNS recorders at once: each ran and ended with 0" \
    "$(printf '0 %.0s' $(seq "$CONCURRENT_RUNS"))" "$(printf '%s ' "${statuses[@]}")"
  expect "$CONCURRENT_RUNS recorders at once: every line whole and present" "$CONCURRENT_RUNS" \
    "$(fixture_log runs | grep -cE "^[^|]*shutdown\.exe\|[^|]* run[0-9]+-$padding\|[^|]*\$")"
  expect "$CONCURRENT_RUNS recorders at once: no line twice" "$CONCURRENT_RUNS" \
    "$(fixture_log runs | sort -u | wc -l)"
}

# Polls until no Brindle.exe runs; prints the last count.
wait_no_brindle() {
  local count polls=$((GONE_WAIT_S * 20))
  while count=$(brindle_running_count) && ((count > 0 && polls-- > 0)); do sleep 0.05; done
  echo "$count"
}

check_brindle() {
  local start
  fixtures_reset
  brindle_install "$BRINDLE_64_WIN" "$BRINDLE_32_WIN"
  expect "installed at both paths" "yes yes" \
    "$(exists "${NORVIK_DIRS[0]}/Quilden/Brindle.exe") $(exists "${NORVIK_DIRS[1]}/Quilden/Brindle.exe")"
  expect "none running before" 0 "$(brindle_running_count)"
  start=$(now_ms)
  brindle_start "$BRINDLE_64_WIN"
  took "brindle_start" "$start"
  expect "started: logs its own path" "start $BRINDLE_64_WIN" "$(fixture_log brindle)"
  expect "started: one running" 1 "$(brindle_running_count)"
  brindle_start "$BRINDLE_32_WIN"
  expect "second started: two running" 2 "$(brindle_running_count)"
  start=$(now_ms)
  wine_exec cmd /c taskkill /F /IM Brindle.exe >/dev/null
  expect "cmd /c taskkill /F /IM Brindle.exe ends both" 0 "$(wait_no_brindle)"
  took "taskkill until none ran" "$start"
}

wmic_bios_version() {
  wine_exec wmic bios get smbiosbiosversion | iconv -f UTF-16 -t UTF-8 | tr -d '\r' |
    sed -n '2s/ *$//p'
}

# Without the mock, Wine reports the machine's own BIOS ("Wine" where there is no DMI data);
# so the checks compare with what it said before rather than with a fixed text.
check_bios_version() {
  local start before
  before=$(wmic_bios_version)
  start=$(now_ms)
  expect "WMI's BIOS version under bios_version_run (a shell function)" "$BIOS_VERSION" \
    "$(bios_version_run "$BIOS_VERSION" wmic_bios_version)"
  took "bios_version_run with wmic" "$start"
  expect "WMI's BIOS version follows the version given" "$OTHER_BIOS_VERSION" \
    "$(bios_version_run "$OTHER_BIOS_VERSION" wmic_bios_version)"
  expect "bios_version_run passes on a program's exit status" 3 \
    "$(status_of bios_version_run "$BIOS_VERSION" bash -c 'exit 3')"
  expect "WMI's BIOS version once the mock is gone" "$before" "$(wmic_bios_version)"
}

check_uninstall() {
  local start
  start=$(now_ms)
  fixtures_uninstall
  installed=no
  took "fixtures_uninstall" "$start"
  expect "Wine's powrprof.dll back" "$wine_dll_sha" "$(sha "$FIXTURE_SYSTEM_DIR/powrprof.dll")"
  expect "Wine's shutdown.exe back" "$wine_shutdown_sha" "$(sha "$FIXTURE_SYSTEM_DIR/shutdown.exe")"
  expect "no Brindle.exe left, nor the folders made for it" "$norvik_dirs_before" \
    "$(exists "${NORVIK_DIRS[0]}") $(exists "${NORVIK_DIRS[1]}")"
  expect "no planted recorder left" no "$(exists "$PLANTED")"
  expect "no log folder left" no "$(exists "$FIXTURE_LOG_DIR")"
  expect "no test power state left" 1 "$(reg_has "$FIXTURE_TEST_KEY")"
  expect "no powrprof override left" 1 \
    "$(reg_has "$FIXTURE_WINE_KEY\\AppDefaults\\BIOSUpdate.exe\\DllOverrides" /v powrprof)"
  expect "no shutdown.exe override left" 1 \
    "$(reg_has "$FIXTURE_WINE_KEY\\DllOverrides" /v shutdown.exe)"
}

main() {
  local start
  cp "$FIXTURES_BIN/$PROBE" "$PROGRAM_DIR/$PROBE"
  cp "$FIXTURES_BIN/$PROBE" "$PROGRAM_DIR/$OTHER_PROBE"
  wine_dll_sha=$(sha "$FIXTURE_SYSTEM_DIR/powrprof.dll")
  wine_shutdown_sha=$(sha "$FIXTURE_SYSTEM_DIR/shutdown.exe")
  norvik_dirs_before="$(exists "${NORVIK_DIRS[0]}") $(exists "${NORVIK_DIRS[1]}")"
  check_exports
  start=$(now_ms)
  if ! fixtures_install; then
    expect "fixtures_install" "done" "failed"
    finish
    return
  fi
  installed=yes
  took "fixtures_install" "$start"
  check_read_and_store
  check_failures
  check_other_programs_keep_wines_dll
  check_restart_recorded
  check_recorder_plant
  check_concurrent_appends
  check_brindle
  check_bios_version
  check_uninstall
  finish
}

main
