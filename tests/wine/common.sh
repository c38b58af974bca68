# shellcheck shell=bash
# Shared by the end-to-end checks of BIOSUpdate.exe under Wine (here the 64-bit twin).
# Each check script is run as: SCRIPT STATE_DIR UPDATER_EXE WINTEST_EXE, with STATE_DIR a prefix
# made by fixture.sh and UPDATER_EXE ($updater_exe) the updater under test. One observable behaviour per check, expected value beside the actual.
# The same checks run the 32-bit product in a 64-bit prefix of the emulated guest, where it sees
# Program Files (x86) (UPDATER_PROGRAM_FILES) and the registry's 32-bit view (UPDATER_REG_VIEW=32),
# and where everything is slower (WINE_WAIT_MS, WINE_RUN_TIMEOUT_MS).

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

state=$1
updater_exe=$2
WINTEST_EXE=$(realpath "$3")
export WINTEST_EXE
wine_use "$state" || exit 1

readonly RUN_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
readonly RUN_VALUE=BIOSUpdate
readonly QUESTION_CAPTION='BIOS update'
readonly MESSAGE_BOX_CLASS='#32770'
readonly TEXT_ID=65535
readonly IDYES=6 IDNO=7
readonly WAIT_MS=${WINE_WAIT_MS:-15000}
readonly RUN_TIMEOUT_MS=${WINE_RUN_TIMEOUT_MS:-30000}
readonly PROGRAM_DIR="$WINEPREFIX/drive_c/users/Public/Downloads"
readonly PROGRAM_WIN='C:\users\Public\Downloads\BIOSUpdate.exe'
readonly PROGRAM_FILES=${UPDATER_PROGRAM_FILES:-Program Files}
readonly WORK_DIR="$WINEPREFIX/drive_c/$PROGRAM_FILES/BIOSUPDATE"
# reg.exe's view of the registry: the updater's own one.
REG_VIEW=()
[[ -n ${UPDATER_REG_VIEW:-} ]] && REG_VIEW=("/reg:$UPDATER_REG_VIEW")
readonly REG_VIEW

mkdir -p "$PROGRAM_DIR"
cp "$updater_exe" "$PROGRAM_DIR/BIOSUpdate.exe"

# shellcheck source=expect.sh
source "$here/expect.sh"
finish() {
  [[ $failed -eq 0 ]] || wine_log_tail 20
  tally
}

# Both in the updater's view of the registry, or in the one given (32 or 64).
run_value_present() {
  local view=("${REG_VIEW[@]}")
  [[ -n ${1:-} ]] && view=("/reg:$1")
  if wine_exec reg query "$RUN_KEY" /v "$RUN_VALUE" "${view[@]}" >/dev/null 2>&1; then echo yes; else echo no; fi
}
set_run_value() {
  local view=("${REG_VIEW[@]}")
  [[ -n ${1:-} ]] && view=("/reg:$1")
  wine_exec reg add "$RUN_KEY" /v "$RUN_VALUE" /t REG_SZ /d "$PROGRAM_WIN 1" /f "${view[@]}" >/dev/null 2>&1
}

# A working folder as an interrupted earlier run leaves it.
leave_earlier_run() {
  mkdir -p "$WORK_DIR"
  echo "old tool" >"$WORK_DIR/WinFlash64.exe"
  echo "old capsule" >"$WORK_DIR/47K31RB4.cap"
}
exists() { if [[ -e "$1" ]]; then echo yes; else echo no; fi; }
# Facts for a later judge: NAME=VALUE lines, a value's lines joined with '#'. fact appends one
# to the file $facts; fact_of reads one back from such lines.
fact_line() { printf '%s=%s\n' "$1" "$(tr -d '\r' <<<"$2" | paste -sd '#')"; }
fact() { fact_line "$@" >>"${facts:?no facts file}"; }
fact_of() { sed -n "s/^$1=//p" <<<"$2" | head -n 1; }

# Runs the program to its end through the driver (exact command line, windows watched);
# prints the driver's report.
run_program() { wine_driver run "$RUN_TIMEOUT_MS" "$PROGRAM_WIN" "$@"; }
report_field() { sed -n "s/^$1=//p" <<<"$2" | tr -d '\r'; }

# Starts the program in the background; its report lands in $1.
start_program() {
  local report=$1
  shift
  run_program "$@" >"$report" 2>&1 &
  program_pid=$!
}
wait_program() { wait "$program_pid"; }

question_hex() { wine_driver hex "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" "$TEXT_ID" | tr -d '\r\n'; }
answer_question() { wine_driver click "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" "$1" >/dev/null 2>&1; }
wait_question() { wine_driver wait-window "$MESSAGE_BOX_CLASS" "$QUESTION_CAPTION" "$WAIT_MS" >/dev/null 2>&1; }
to_hex() { od -An -tx1 -v | tr -d ' \n'; }

now_ms() { date +%s%3N; }
# Waits until the updater's window (captioned TITLE, the English one by default) covers the
# screen, top-most; prints when (ms since 1970) and its rectangle.
wait_covered() {
  local info deadline=$(($(now_ms) + WAIT_MS))
  while (($(now_ms) < deadline)); do
    info=$(wine_driver window-info '#32770' "${1:-BIOS Update Program}" 2>/dev/null | tr -d '\r')
    grep -q '^rect=0,0,[1-9]' <<<"$info" && grep -q '^topmost=1' <<<"$info" &&
      { echo "$(now_ms) $(sed -n 's/^rect=//p' <<<"$info")"; return 0; }
    sleep 0.05
  done
  return 1
}

# What another process does at the very end of a run (a program started by ShellExecute logs
# its start) can come a moment after the updater has ended: asks again for a few seconds.
readonly SETTLE_TRIES=40
readonly SETTLE_POLL_S=0.1
settled() {  # settled EXPECTED COMMAND...: COMMAND's output once it equals EXPECTED, or the last one
  local expected=$1 output try
  shift
  for ((try = 0; try < SETTLE_TRIES; try++)); do
    output=$("$@" | tr -d '\r')
    [[ "$output" == "$expected" ]] && break
    sleep "$SETTLE_POLL_S"
  done
  echo "$output"
}

# The distinct texts the updater drew since line $trace_from of the prefix's log, in the order
# they came, from Wine's trace of DrawTextExW (a run with WINEDEBUG=-all,+text).
drawn_texts() {
  tail -n +"$((trace_from + 1))" "$WINE_STATE_DIR/wine.log" |
    sed -n 's/.*trace:text:DrawTextExW L"\(.*\)", -\{0,1\}[0-9]*, .*/\1/p' | awk '!seen[$0]++'
}
# A text as Wine's trace writes it: a character outside ASCII as a backslash and four hex digits.
traced() { python3 -c 'import sys; print("".join(c if ord(c) < 128 else "\\%04x" % ord(c) for c in sys.argv[1]))' "$1"; }
