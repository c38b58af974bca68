# shellcheck shell=bash
# The stand-ins that let a check watch an updater run from outside, in the prefix in use.
# Source after common.sh (it needs the prefix, wine_exec, wine_driver and $updater_exe); the
# stand-ins are the ones built next to the updater under test, in tools/fixtures of its build (or
# $FIXTURES_BIN).
#
#   fixtures_install                 powrprof.dll and shutdown.exe stand-ins, log folder
#   fixtures_reset                   empty logs, default power state, no failure armed
#   fixtures_fail FUNCTION [N [T]]   the Nth call (default 1) of a power call fails, and the
#                                    T-1 calls after it (default T 1)
#   fixture_log powrprof|brindle|runs    prints one log (nothing while it is empty)
#   power_policy_triples             the stored button and lid policies, as the log shows them
#   restored_triples TRIPLES         those triples as a restore writes them back
#   power_active_scheme              the stored active power scheme index
#   power_settings_in_force          the power settings in force (power button, sleep button,
#                                    lid, allow sleep; AC/DC each, e.g. "3/1 1/2 1/3 1/1")
#   power_settings_stored            those settings as the active scheme stores them
#   power_settings_seed [SCHEME SETTINGS]  SCHEME active, SETTINGS stored in it and in force
#                                    (default SEEDED_SCHEME, SEEDED_SETTINGS)
#   SEEDED_SETTINGS, SETTINGS_OFF    a machine's own settings; all of them on "do nothing"
#   brindle_install PATH_WIN...      a Brindle.exe stand-in at each Windows path
#   brindle_start PATH_WIN           starts one and waits until it has logged its start
#   brindle_running_count            how many Brindle.exe processes run in the prefix
#   recorder_plant PATH_WIN...       the recorder at each Windows path (a program that must
#                                    never run, under the name it would run as)
#   bios_version_run VERSION CMD...  CMD (a program or a shell function, run in a subshell)
#                                    with Wine reporting BIOS version VERSION
#                                    (Win32_BIOS.SMBIOSBIOSVersion); CMD's exit status
#   fixtures_uninstall               ends Brindle.exe, restores Wine's files, removes the rest
# BitLocker's manage-bde.exe stand-in (tools/fixtures/manage_bde.cpp), 64-bit only like the real
# one, taken from FIXTURES_BIN_64 (default FIXTURES_BIN) whatever the updater's width:
#   bitlocker_install                manage-bde.exe in the 64-bit system folder (C:\windows\system32;
#                                    Wine has none); uninstall removes it, reset clears its log and
#                                    state (not protected)
#   bitlocker_state STATE            the volume: protected, suspend-refused (-disable fails),
#                                    suspend-does-not-hold (-disable ends 0, still protected) or
#                                    not-protected
#   bitlocker_suspension             the reboot count of the suspension in force; nothing without one
#   manage_bde_field N               field N of each manage-bde run, one a line (1 path, 2 width,
#                                    3 command line, 4 exit=, 5 endms=)
# What an update run left, read one way by every check (the Wine checks and the guest's runs):
#   update_marker                    the update marker as "REG_SZ <value>"; nothing without one
#   flash_log_field NAME             a field of the stand-in flash tool's log line (cmdline,
#                                    cwd, exit, reason, startms, until); the tool logs to
#                                    FLASH_TOOL_LOG_WIN when the updater's environment has
#                                    WINFLASH_LOG set to it
#   first_applied_policies           the button and lid policies the updater applied first
#   first_applied_settings           the settings the updater's first PowerSetActiveScheme put
#                                    in force (from its log line)
#   settings_look_in_flash           waits until the flash tool runs, then keeps the settings in
#                                    force for update_outcome's settings_in_flash
#   update_outcome REPORT_FILE       what an ended run left, as facts (fact_line): the driver's
#                                    report (exit, windows), the marker, the flash tool's log
#                                    (flash_cmdline, flash_cwd, flash_exit, flash_until), the
#                                    recorder's runs, the first policies applied and those in
#                                    force, the settings (first applied, in force during the
#                                    flash when looked at, in force and stored after), the companion (running once settled, its log) and
#                                    whether the working folder is left
#   running_count IMAGE              how many processes of IMAGE (e.g. WinFlash64.exe) run in
#                                    the prefix
#   flash_tool_running               whether the stand-in flash tool runs
#   restart_requests                 how many times the restart command ran
#   input_watch_start PROBE_EXE SECONDS  input_probe's watch (its hooks and its window) for at
#                                    most SECONDS, started before the updater so that its hooks
#                                    see what the updater's pass on; waits until it is ready
#   input_watch_stop                 closes the watch and waits for it
#   inject_lock_inputs               sends LOCK_INPUTS; prints "probe NAME" for each that
#                                    reached the watch's hooks and "window NAME" for each its
#                                    window (given the focus before each) received; an input
#                                    sent again (the window lost the focus first) counts once
#   reached probe|window LINES       the names in such lines that reached the one or the other
#   LOCK_INPUTS                      what another program sends to try the input lock, in
#                                    order: Enter, Escape, F10, Alt+Tab (Alt down, Tab down,
#                                    Tab up, Alt up), a letter, every mouse button, the wheel
#                                    and a move, as input_probe names them
#
readonly FLASH_TOOL_LOG_WIN='C:\fixture-logs\winflash.log'
readonly FLASH_TOOL_IMAGE=WinFlash64.exe
readonly UPDATE_MARKER_KEY='HKU\.DEFAULT\Software\NRVK\BIOSUPDATE\Parameters'
readonly LOCK_INPUTS=(
  key-down:0D key-up:0D key-down:1B key-up:1B key-down:79 key-up:79
  key-down:12 key-down:09 key-up:09 key-up:12 key-down:41 key-up:41
  left-down left-up right-down right-up middle-down middle-up x-down x-up wheel move
)
# What of LOCK_INPUTS passes, in order, while the lock is on (key-ups, the middle and X buttons,
# the wheel and the move) and once it is off (all of it).
readonly LOCKED_PASSING='key-up:0D key-up:1B key-up:79 key-up:09 key-up:12 key-up:41 middle-down middle-up x-down x-up wheel move'
readonly RELEASED_PASSING="${LOCK_INPUTS[*]}"

# The logs (UTF-8 lines, "\n" ends), under C:\fixture-logs:
#   powrprof.log  "load <path of the DLL>", "<function> ok|fail",
#                 "SetActivePwrScheme ok|fail <six policies>"
#   brindle.log   "start <path of the Brindle.exe started>"
#   runs.log      "<path of the recorder>|<its command line>|<its current directory>"
#   manage-bde.log  "<its path>|64-bit|<its command line>|exit=<N>|endms=<ms since 1970>"
# Six policies: PowerButtonAc PowerButtonDc SleepButtonAc SleepButtonDc LidCloseAc LidCloseDc,
# each Action/Flags/EventCode in hex, e.g. "2/1/0 3/1/0 2/1/0 2/1/0 0/1/0 2/1/0".

FIXTURES_BIN=${FIXTURES_BIN:-$(cd "$(dirname "${updater_exe:?source common.sh first}")" && pwd)/tools/fixtures}
readonly FIXTURE_LOG_DIR="$WINEPREFIX/drive_c/fixture-logs"
readonly FIXTURE_LOGS=(powrprof brindle runs manage-bde)
# The system folder the updater loads DLLs and starts programs from: syswow64
# (FIXTURES_SYSTEM_FOLDER) for a 32-bit updater in a 64-bit prefix, with 32-bit stand-ins.
readonly FIXTURE_SYSTEM_DIR="$WINEPREFIX/drive_c/windows/${FIXTURES_SYSTEM_FOLDER:-system32}"
# manage-bde exists only in the 64-bit system folder, and only as a 64-bit program.
FIXTURES_BIN_64=${FIXTURES_BIN_64:-$FIXTURES_BIN}
readonly FIXTURE_MANAGE_BDE_WIN='C:\windows\system32\manage-bde.exe'
# Outside the prefix, so nothing in Windows can find Wine's originals while they are away.
readonly FIXTURE_SAVED_DIR="$WINE_STATE_DIR/fixtures-saved"
readonly FIXTURE_PLANTED_LIST="$FIXTURE_SAVED_DIR/planted"
readonly FIXTURE_MADE_DIRS_LIST="$FIXTURE_SAVED_DIR/made-dirs"
readonly FIXTURE_TEST_KEY='HKEY_LOCAL_MACHINE\Software\BIOSUpdateTest'
readonly FIXTURE_POWER_KEY="$FIXTURE_TEST_KEY\\Power"
readonly FIXTURE_BITLOCKER_KEY="$FIXTURE_TEST_KEY\\BitLocker"
readonly FIXTURE_WINE_KEY='HKEY_CURRENT_USER\Software\Wine'
# The programs that get the powrprof.dll stand-in; every other program keeps Wine's own.
readonly FIXTURE_POWER_CLIENTS=(BIOSUpdate.exe power_probe.exe)
readonly FIXTURE_POWER_FUNCTIONS=(CanUserWritePwrScheme ReadGlobalPwrPolicy GetActivePwrScheme
  SetActivePwrScheme PowerGetActiveScheme PowerReadACValueIndex PowerReadDCValueIndex
  PowerWriteACValueIndex PowerWriteDCValueIndex PowerSetActiveScheme)
# The stand-in's power state while none is stored (see DefaultPolicy in powrprof.cpp); the
# smoke check holds the two to each other.
readonly FIXTURE_DEFAULT_TRIPLES='2/1/0 3/1/0 2/1/0 2/1/0 0/1/0 2/1/0'
readonly FIXTURE_DEFAULT_SCHEME=1
# The power settings the stand-in keeps (subgroup\setting), in the order the helpers print
# them: power button, sleep button, lid close, allow sleep states; their defaults (AC/DC each)
# and the default active scheme (Balanced), as powrprof.cpp has them.
readonly FIXTURE_SETTINGS=(
  '4f971e89-eebd-4455-a8de-9e59040e7347\7648efa3-dd9c-4e3e-b566-50f929386280'
  '4f971e89-eebd-4455-a8de-9e59040e7347\96996bc0-ad50-47ec-923b-6f41874dd9eb'
  '4f971e89-eebd-4455-a8de-9e59040e7347\5ca83367-6e45-459f-a27b-476b1d01c936'
  '238c9fa8-0aad-41ed-83f4-97be242c8f20\abfc2519-3608-4c2a-94ea-171b0ed546ab')
readonly FIXTURE_DEFAULT_SETTINGS='3/1 1/2 1/3 1/1'
readonly FIXTURE_DEFAULT_SETTINGS_SCHEME=381b4222-f694-41f0-9685-ff5bb260df2e
FIXTURE_SETTINGS_LOOK="$WINE_STATE_DIR/settings-in-flash"
# A machine's own power settings: a scheme other than the default one, each value non-zero and
# AC apart from DC but for "allow sleep", which is on or off.
readonly SEEDED_SCHEME=8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c
readonly SEEDED_SETTINGS='2/3 3/1 1/2 1/1'
readonly SETTINGS_OFF='0/0 0/0 0/0 0/0'
# sizeof(GLOBAL_POWER_POLICY) in a 64-bit program; the six policies start after Revision.
readonly FIXTURE_POLICY_BYTES=192
readonly FIXTURE_POLICIES_OFFSET=4
readonly FIXTURE_POLICY_SIZE=12
readonly FIXTURE_POLICY_COUNT=6
readonly FIXTURE_BRINDLE=Brindle.exe
readonly FIXTURE_START_WAIT_S=10
readonly FIXTURE_POLL_S=0.05
readonly FIXTURE_RESET_TRIES=5

_fixtures_fail() {
  echo "fixtures: $*" >&2
  return 1
}

# Imports the .reg text on stdin: many keys and values for the price of one Wine start.
_fixtures_reg_import() {
  local file
  file=$(mktemp "$WINE_STATE_DIR/fixtures.XXXXXX.reg") || return 1
  { echo 'Windows Registry Editor Version 5.00'; echo; cat; } >"$file"
  wine_exec reg import "$(wine_win_path "$file")" >/dev/null
  local status=$?
  rm -f "$file"
  ((status == 0)) || _fixtures_fail "reg import failed (see $WINE_STATE_DIR/wine.log)"
}

# Removes KEY, or only its VALUE; nothing to remove is no error. Unlike an import, never
# makes a key on the way.
_fixtures_reg_delete() {
  if (($# > 1)); then
    wine_exec reg delete "$1" /v "$2" /f >/dev/null 2>&1
  else
    wine_exec reg delete "$1" /f >/dev/null 2>&1
  fi
  return 0
}

# A value's data (one word: a number or binary) as `reg query` prints it; fails when the
# value is missing.
_fixtures_reg_value() {
  wine_exec reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { print $3; found = 1 } END { exit !found }'
}

# Wine's file in system32 goes aside, once: a second install must not save a stand-in.
_fixtures_save_original() {
  [[ -e "$FIXTURE_SAVED_DIR/$1" ]] || cp -p "$FIXTURE_SYSTEM_DIR/$1" "$FIXTURE_SAVED_DIR/$1"
}

fixtures_install() {
  _wine_require_prefix || return 1
  local file client
  for file in powrprof.dll recorder.exe "$FIXTURE_BRINDLE"; do
    [[ -f "$FIXTURES_BIN/$file" ]] || _fixtures_fail "no $FIXTURES_BIN/$file; build first" || return 1
  done
  mkdir -p "$FIXTURE_SAVED_DIR" "$FIXTURE_LOG_DIR" || return 1
  _fixtures_save_original powrprof.dll && _fixtures_save_original shutdown.exe || return 1
  cp "$FIXTURES_BIN/powrprof.dll" "$FIXTURE_SYSTEM_DIR/powrprof.dll" &&
    cp "$FIXTURES_BIN/recorder.exe" "$FIXTURE_SYSTEM_DIR/shutdown.exe" || return 1
  # A DLL override under AppDefaults\<program> applies to that program alone. An .exe is
  # different: Wine 8 starts a native shutdown.exe only with the global override
  # "shutdown.exe"="native" (or WINEDLLOVERRIDES); under AppDefaults, keyed by the starting
  # program (cmd.exe) or by shutdown.exe itself, and as "shutdown" without the extension,
  # it still starts its builtin one.
  {
    for client in "${FIXTURE_POWER_CLIENTS[@]}"; do
      printf '[%s\\AppDefaults\\%s\\DllOverrides]\n"powrprof"="native"\n\n' "$FIXTURE_WINE_KEY" "$client"
    done
    printf '[%s\\DllOverrides]\n"shutdown.exe"="native"\n' "$FIXTURE_WINE_KEY"
  } | _fixtures_reg_import
}

fixtures_reset() {
  _wine_require_prefix || return 1
  local log
  mkdir -p "$FIXTURE_LOG_DIR" || return 1
  for log in "${FIXTURE_LOGS[@]}"; do : >"$FIXTURE_LOG_DIR/$log.log" || return 1; done
  rm -f "$FIXTURE_SETTINGS_LOOK"
  # Once seen on a loaded fresh machine: the key was still there right after the delete. Asked
  # again until it is gone.
  local try
  for ((try = 0; try < FIXTURE_RESET_TRIES; try++)); do
    printf '[-%s]\n[-%s]\n' "$FIXTURE_POWER_KEY" "$FIXTURE_BITLOCKER_KEY" | _fixtures_reg_import || return 1
    ! wine_exec reg query "$FIXTURE_POWER_KEY" >/dev/null 2>&1 &&
      ! wine_exec reg query "$FIXTURE_BITLOCKER_KEY" >/dev/null 2>&1 && return 0
    sleep "$FIXTURE_POLL_S"
  done
  _fixtures_fail "the keys $FIXTURE_POWER_KEY and $FIXTURE_BITLOCKER_KEY would not go"
}

fixtures_fail() {
  local function=${1:?usage: fixtures_fail FUNCTION [OCCURRENCE [TIMES]]} occurrence=${2:-1} times=${3:-1} known
  # A misspelt name would arm nothing, and the check would pass for the wrong reason.
  for known in "${FIXTURE_POWER_FUNCTIONS[@]}"; do [[ "$function" == "$known" ]] && break; done
  [[ "$function" == "$known" ]] ||
    _fixtures_fail "fixtures_fail: $function is none of ${FIXTURE_POWER_FUNCTIONS[*]}" || return 1
  [[ "$occurrence" =~ ^[1-9][0-9]*$ ]] ||
    _fixtures_fail "fixtures_fail: occurrence $occurrence is not a count from 1" || return 1
  [[ "$times" =~ ^[1-9][0-9]*$ ]] ||
    _fixtures_fail "fixtures_fail: times $times is not a count from 1" || return 1
  printf '[%s]\n"Fail"="%s"\n"FailOccurrence"=dword:%08x\n"FailTimes"=dword:%08x\n' \
    "$FIXTURE_POWER_KEY" "$function" "$occurrence" "$times" | _fixtures_reg_import
}

fixture_log() {
  local name=${1:?usage: fixture_log powrprof|brindle|runs|manage-bde}
  [[ " ${FIXTURE_LOGS[*]} " == *" $name "* ]] ||
    _fixtures_fail "fixture_log: no log $name (${FIXTURE_LOGS[*]})" || return 1
  cat "$FIXTURE_LOG_DIR/$name.log" 2>/dev/null
  return 0
}

# The 32-bit little-endian value at byte OFFSET of HEX, in lowercase hex.
_fixtures_le32() {
  local hex=${1:$(($2 * 2)):8}
  printf '%x' "$((16#${hex:6:2}${hex:4:2}${hex:2:2}${hex:0:2}))"
}

power_policy_triples() {
  local hex offset i triples=()
  if ! hex=$(_fixtures_reg_value "$FIXTURE_POWER_KEY" GlobalPolicy); then
    echo "$FIXTURE_DEFAULT_TRIPLES"
    return 0
  fi
  ((${#hex} == FIXTURE_POLICY_BYTES * 2)) ||
    _fixtures_fail "stored policy has $((${#hex} / 2)) bytes, not $FIXTURE_POLICY_BYTES" || return 1
  for ((i = 0; i < FIXTURE_POLICY_COUNT; i++)); do
    offset=$((FIXTURE_POLICIES_OFFSET + i * FIXTURE_POLICY_SIZE))
    triples+=("$(_fixtures_le32 "$hex" "$offset")/$(_fixtures_le32 "$hex" $((offset + 4)))/$(
      _fixtures_le32 "$hex" $((offset + 8)))")
  done
  echo "${triples[*]}"
}

# TRIPLES with each event code replaced by the one the restore writes.
restored_triples() { sed 's#/[0-9a-fA-F]*\( \|$\)#/80000000\1#g' <<<"$1"; }

power_active_scheme() {
  local value
  if value=$(_fixtures_reg_value "$FIXTURE_POWER_KEY" ActiveScheme); then
    echo $((value))
  else
    echo "$FIXTURE_DEFAULT_SCHEME"
  fi
}

power_settings_scheme() {
  _fixtures_reg_value "$FIXTURE_POWER_KEY" ActiveSchemeGuid || echo "$FIXTURE_DEFAULT_SETTINGS_SCHEME"
}

# The settings under KEY (one subkey per subgroup\setting, values AC and DC), the defaults
# where none is stored; one reg query for all of them. The names reach awk through its
# environment: -v would read their backslashes as escapes.
_fixtures_settings_under() {
  local key=$1
  wine_exec reg query "$key" /s 2>/dev/null | tr -d '\r' |
    SETTINGS="${FIXTURE_SETTINGS[*]}" KEY=$key awk -v defaults="$FIXTURE_DEFAULT_SETTINGS" '
      BEGIN { key = ENVIRON["KEY"]; n = split(ENVIRON["SETTINGS"], name, " "); split(defaults, pair, " ")
              for (i = 1; i <= n; i++) { split(pair[i], d, "/"); ac[tolower(name[i])] = d[1]; dc[tolower(name[i])] = d[2] } }
      /^HKEY/ { here = tolower(substr($0, length(key) + 2)); next }
      $2 == "REG_DWORD" && (here in ac) { v = tolower($3); sub(/^0x0*/, "", v); if (v == "") v = "0"; if ($1 == "AC") ac[here] = v; if ($1 == "DC") dc[here] = v }
      END { for (i = 1; i <= n; i++) { k = tolower(name[i]); line = line (i > 1 ? " " : "") ac[k] "/" dc[k] }; print line }'
}
power_settings_in_force() { _fixtures_settings_under "$FIXTURE_POWER_KEY\\InForce"; }
power_settings_stored() { _fixtures_settings_under "$FIXTURE_POWER_KEY\\Schemes\\$(power_settings_scheme)"; }

power_settings_seed() {
  local scheme=${1:-$SEEDED_SCHEME} values=() i ac dc key
  read -r -a values <<<"${2:-$SEEDED_SETTINGS}"
  ((${#values[@]} == ${#FIXTURE_SETTINGS[@]})) ||
    _fixtures_fail "power_settings_seed: ${#FIXTURE_SETTINGS[@]} AC/DC pairs, not: ${values[*]}" || return 1
  {
    printf '[%s]\n"ActiveSchemeGuid"="%s"\n\n' "$FIXTURE_POWER_KEY" "$scheme"
    for ((i = 0; i < ${#FIXTURE_SETTINGS[@]}; i++)); do
      ac=${values[i]%/*} dc=${values[i]#*/}
      for key in "Schemes\\$scheme\\${FIXTURE_SETTINGS[i]}" "InForce\\${FIXTURE_SETTINGS[i]}"; do
        printf '[%s\\%s]\n"AC"=dword:%08x\n"DC"=dword:%08x\n\n' "$FIXTURE_POWER_KEY" "$key" "$((16#$ac))" "$((16#$dc))"
      done
    done
  } | _fixtures_reg_import
}

# Makes DIR and records the folders that did not exist, so that uninstall removes exactly
# those.
_fixtures_make_dir() {
  local dir=$1 missing=()
  while [[ ! -d "$dir" ]]; do
    missing=("$dir" "${missing[@]}")
    dir=$(dirname "$dir")
  done
  mkdir -p "$1" || return 1
  ((${#missing[@]} == 0)) || printf '%s\n' "${missing[@]}" >>"$FIXTURE_MADE_DIRS_LIST"
}

# Copies SOURCE to each Windows path, noting the copies for uninstall. Paths convert with
# winepath, which matches existing folders the way Windows does, ignoring case.
_fixtures_plant() {
  local source=$1 target
  shift
  (($# > 0)) || _fixtures_fail "no path given" || return 1
  mkdir -p "$FIXTURE_SAVED_DIR" || return 1
  local targets=()
  mapfile -t targets < <(wine_exec winepath -u "$@" | tr -d '\r')
  ((${#targets[@]} == $#)) || _fixtures_fail "winepath could not convert all of: $*" || return 1
  for target in "${targets[@]}"; do
    _fixtures_make_dir "$(dirname "$target")" && cp "$source" "$target" || return 1
    echo "$target" >>"$FIXTURE_PLANTED_LIST"
  done
}

brindle_install() { _fixtures_plant "$FIXTURES_BIN/$FIXTURE_BRINDLE" "$@"; }
recorder_plant() { _fixtures_plant "$FIXTURES_BIN/recorder.exe" "$@"; }

_fixtures_line_count() {
  if [[ -f "$FIXTURE_LOG_DIR/$1.log" ]]; then wc -l <"$FIXTURE_LOG_DIR/$1.log"; else echo 0; fi
}

# Started on its own, outliving the caller like a program the user started; its output
# goes nowhere, so a caller capturing this function's output does not wait for it.
brindle_start() {
  local path=${1:?usage: brindle_start PATH_WIN} before polls
  before=$(_fixtures_line_count brindle)
  (wine_exec "$path" >/dev/null 2>&1 &)
  polls=$(awk -v s="$FIXTURE_START_WAIT_S" -v p="$FIXTURE_POLL_S" 'BEGIN { print int(s / p) }')
  while (($(_fixtures_line_count brindle) <= before)); do
    ((polls-- > 0)) || _fixtures_fail "$path did not start within ${FIXTURE_START_WAIT_S}s" ||
      return 1
    sleep "$FIXTURE_POLL_S"
  done
}

brindle_running_count() { wine_driver process-count "$FIXTURE_BRINDLE"; }

bitlocker_install() {
  local file=$FIXTURES_BIN_64/manage-bde.exe
  [[ -f $file ]] || _fixtures_fail "no $file; build the 64-bit stand-ins first" || return 1
  _fixtures_plant "$file" "$FIXTURE_MANAGE_BDE_WIN"
}
bitlocker_state() {
  local values
  case ${1:?usage: bitlocker_state protected|suspend-refused|suspend-does-not-hold|not-protected} in
    protected) values='"Protected"=dword:00000001' ;;
    suspend-refused) values=$'"Protected"=dword:00000001\n"SuspendRefused"=dword:00000001' ;;
    suspend-does-not-hold) values=$'"Protected"=dword:00000001\n"SuspendDoesNotHold"=dword:00000001' ;;
    not-protected) _fixtures_reg_delete "$FIXTURE_BITLOCKER_KEY"; return 0 ;;
    *) _fixtures_fail "bitlocker_state: no state $1"; return 1 ;;
  esac
  printf '[-%s]\n\n[%s]\n%s\n' "$FIXTURE_BITLOCKER_KEY" "$FIXTURE_BITLOCKER_KEY" "$values" | _fixtures_reg_import
}
bitlocker_suspension() {
  local value
  value=$(_fixtures_reg_value "$FIXTURE_BITLOCKER_KEY" RebootCount) && echo $((value))
  return 0
}
manage_bde_field() { fixture_log manage-bde | tr -d '\r' | cut -d'|' -f"$1"; }

# The sysfs DMI folder Wine reads the BIOS from, as umockdev describes a device. With a
# vendor, Wine reports the version given; without one it reports "Wine" for the BIOS.
_fixtures_dmi_device() {
  printf '%s\n' 'P: /devices/virtual/dmi/id' 'E: SUBSYSTEM=dmi' 'A: bios_vendor=Test\n' \
    "A: bios_version=$1\\n"
  [[ -n ${FIXTURE_MAINS_ONLINE:-} ]] && _fixtures_power_supply_devices
  return 0
}

# With FIXTURE_MAINS_ONLINE (0 or 1) and FIXTURE_BATTERY_CHARGE_NOW set, also a mains adapter and
# a battery of FIXTURE_BATTERY_CHARGE_FULL (default 4300000) under /sys/class/power_supply, which
# Wine's GetSystemPowerStatus reads (online=0, charge 300000 of 4300000: ACLineStatus 0, 6 %).
_fixtures_power_supply_devices() {
  printf '\n%s\n' 'P: /devices/platform/ACPI0003:00/power_supply/AC'
  printf '%s\n' 'E: SUBSYSTEM=power_supply' 'A: type=Mains\n' "A: online=$FIXTURE_MAINS_ONLINE\\n"
  printf '\n%s\n' 'P: /devices/platform/PNP0C0A:00/power_supply/BAT0'
  printf '%s\n' 'E: SUBSYSTEM=power_supply' 'A: type=Battery\n' 'A: present=1\n' \
    "A: status=$( ((FIXTURE_MAINS_ONLINE)) && echo Charging || echo Discharging)\\n" \
    "A: charge_now=$FIXTURE_BATTERY_CHARGE_NOW\\n" "A: charge_full=${FIXTURE_BATTERY_CHARGE_FULL:-4300000}\\n"
}

# umockdev-run offers its mock /sys only to the command it runs, and only while that runs.
# Its command here hands back the two variables that lead a process to the mock, then waits
# for a line on a FIFO; CMD runs meanwhile in a subshell of the caller with those variables,
# so it may be a shell function, and every Wine program it starts inherits them. This side
# opens the FIFOs read-write, which never blocks: a umockdev-run that dies early costs a
# timeout, not a hang. The holder opens its FIFO before it reports, so the release line
# cannot be written before anyone reads it.
bios_version_run() {
  local version=${1:?usage: bios_version_run VERSION CMD...} dir holder ready_fd release_fd
  local preload mock_dir status
  shift
  dir=$(mktemp -d "$WINE_STATE_DIR/bios-version.XXXXXX") || return 1
  _fixtures_dmi_device "$version" >"$dir/dmi.umockdev"
  mkfifo "$dir/ready" "$dir/release" || { rm -rf "$dir"; return 1; }
  # shellcheck disable=SC2016 # expanded by the holder's bash, not here
  umockdev-run --device "$dir/dmi.umockdev" -- bash -c \
    'exec 3<"$2"; printf "%s\n%s\n" "$LD_PRELOAD" "$UMOCKDEV_DIR" >"$1"; read -r _ <&3' \
    bios-version "$dir/ready" "$dir/release" </dev/null >/dev/null 2>>"$WINE_STATE_DIR/wine.log" &
  holder=$!
  exec {ready_fd}<>"$dir/ready" {release_fd}<>"$dir/release"
  if read -r -t "$FIXTURE_START_WAIT_S" -u "$ready_fd" preload &&
    read -r -t "$FIXTURE_START_WAIT_S" -u "$ready_fd" mock_dir; then
    (export LD_PRELOAD="$preload" UMOCKDEV_DIR="$mock_dir" && "$@")
    status=$?
  else
    status=1
    _fixtures_fail "umockdev-run did not start (see $WINE_STATE_DIR/wine.log)"
  fi
  echo >&"$release_fd"
  exec {ready_fd}>&- {release_fd}>&-
  wait "$holder"
  rm -rf "$dir"
  return "$status"
}

fixtures_uninstall() {
  _wine_require_prefix || return 1
  local file client dir
  if (($(brindle_running_count) > 0)); then
    wine_exec taskkill /F /IM "$FIXTURE_BRINDLE" >/dev/null
  fi
  for file in powrprof.dll shutdown.exe; do
    [[ -e "$FIXTURE_SAVED_DIR/$file" ]] && cp -p "$FIXTURE_SAVED_DIR/$file" "$FIXTURE_SYSTEM_DIR/$file"
  done
  if [[ -f "$FIXTURE_PLANTED_LIST" ]]; then
    while IFS= read -r file; do rm -f -- "$file"; done <"$FIXTURE_PLANTED_LIST"
  fi
  # Deepest first; a folder something else has written into since stays.
  if [[ -f "$FIXTURE_MADE_DIRS_LIST" ]]; then
    while IFS= read -r dir; do rmdir -- "$dir" 2>/dev/null; done < <(sort -r "$FIXTURE_MADE_DIRS_LIST")
  fi
  rm -rf -- "$FIXTURE_SAVED_DIR" "$FIXTURE_LOG_DIR"
  # Only the override values go: a key made for them stays, empty, which changes nothing,
  # and any other override a check set for the same program stays too.
  _fixtures_reg_delete "$FIXTURE_TEST_KEY"
  for client in "${FIXTURE_POWER_CLIENTS[@]}"; do
    _fixtures_reg_delete "$FIXTURE_WINE_KEY\\AppDefaults\\$client\\DllOverrides" powrprof
  done
  _fixtures_reg_delete "$FIXTURE_WINE_KEY\\DllOverrides" shutdown.exe
}

update_marker() {
  wine_exec reg query "$UPDATE_MARKER_KEY" /v Version 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Version *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p'
}
flash_log_field() {
  tr -d '\r' <"$FIXTURE_LOG_DIR/winflash.log" 2>/dev/null | tr '|' '\n' | sed -n "s/^$1=//p"
}
first_applied_policies() { fixture_log powrprof | sed -n 's/^SetActivePwrScheme ok //p' | head -n 1; }
first_applied_settings() { fixture_log powrprof | sed -n 's/^PowerSetActiveScheme ok [0-9a-f-]* //p' | head -n 1; }
# Looked at from outside while the tool runs: what the machine obeys during the flash.
settings_look_in_flash() {
  local polls=$((WAIT_MS * 2 / 100))
  until flash_tool_running; do
    ((polls-- > 0)) || { echo "no flash tool" >"$FIXTURE_SETTINGS_LOOK"; return 1; }
    sleep 0.1
  done
  power_settings_in_force >"$FIXTURE_SETTINGS_LOOK"
}
running_count() { wine_driver process-count "$1" | tr -d '\r'; }
flash_tool_running() { (($(running_count "$FLASH_TOOL_IMAGE") > 0)); }
restart_requests() { fixture_log runs | grep -c '|shutdown -r -f|'; }
update_outcome() {
  local report field
  report=$(cat "$1")
  fact_line exit "$(report_field exit "$report")"
  fact_line windows "$(report_field windows "$report")"
  fact_line marker "$(update_marker)"
  for field in cmdline cwd exit until; do fact_line "flash_$field" "$(flash_log_field "$field")"; done
  fact_line runs "$(fixture_log runs)"
  fact_line first_applied "$(first_applied_policies)"
  fact_line policies_after "$(power_policy_triples)"
  fact_line settings_first_applied "$(first_applied_settings)"
  fact_line settings_in_flash "$(cat "$FIXTURE_SETTINGS_LOOK" 2>/dev/null)"
  rm -f "$FIXTURE_SETTINGS_LOOK"
  fact_line settings_after "$(power_settings_in_force)"
  fact_line settings_stored_after "$(power_settings_stored)"
  fact_line companion_after "$(settled 1 brindle_running_count)"
  # Its second start is logged a moment after the updater has ended.
  fact_line brindle "$(settled 2 _fixtures_companion_starts >/dev/null; fixture_log brindle)"
  # Wine's console host for the flash tool's console may hold the folder a moment longer.
  [[ -e $WORK_DIR ]] && sleep 2
  fact_line work_dir_after "$(exists "$WORK_DIR")"
  fact_line powrprof "$(fixture_log powrprof)"
}
_fixtures_companion_starts() { fixture_log brindle | grep -c '^start '; }

INPUT_WATCH_FILE="$WINE_STATE_DIR/input-watch.txt"
input_watch_pid=
input_watch_start() {
  local polls=$((WAIT_MS / 100))
  INPUT_PROBE=$1
  rm -f "$INPUT_WATCH_FILE"
  wine_exec "$INPUT_PROBE" watch "$2" "$(wine_win_path "$INPUT_WATCH_FILE")" >/dev/null 2>&1 &
  input_watch_pid=$!
  until grep -q '^ready' "$INPUT_WATCH_FILE" 2>/dev/null; do
    ((polls-- > 0)) || return 1
    sleep 0.1
  done
}
input_watch_stop() {
  [[ -n $input_watch_pid ]] || return 0
  wine_exec "$INPUT_PROBE" post InputProbeWatch 'input probe' 0x0010 0 0 >/dev/null 2>&1  # WM_CLOSE
  wait "$input_watch_pid"
  input_watch_pid=
}
inject_lock_inputs() {
  local before
  before=$(wc -l <"$INPUT_WATCH_FILE")
  wine_exec "$INPUT_PROBE" inject "${LOCK_INPUTS[@]}" >/dev/null 2>&1 || echo "input_probe inject failed" >&2
  tail -n +"$((before + 1))" "$INPUT_WATCH_FILE" | tr -d '\r' |
    awk '($3 == "probe" || $3 == "window") && !seen[$3 " " $4]++ { print $3, $1 }'
}
reached() { awk -v where="$1" '$1 == where { print $2 }' <<<"$2"; }
