#!/usr/bin/env bash
# Judges one kind of run of the guest stage for both updaters, the 32-bit product and its
# 64-bit twin, from what the runs recorded (guest_runs.sh): each expectation is checked for the
# two files in turn, so that a difference between them shows as one side of a pair failing.
# Expected values are literals, what a 32-bit or a 64-bit process sees on 64-bit Windows, or
# outside observations (the payload files the build embedded).
#
# Usage: check.sh update|refusal|answer_no|cleanup|input_lock|gate RESULTS_DIR BUILD_DIR
here=$(cd "$(dirname "$0")" && pwd)
kind=${1:?usage: check.sh KIND RESULTS_DIR BUILD_DIR}
results=${2:?}
build=${3:?}

readonly PICTURE=$here/../../res/art/background135.bmp
readonly STATUS_TOP=310
readonly ALL_OFF='0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000 0/1/80000000'
# The stand-in's default policies with the event code the restore writes.
readonly RESTORED='2/1/80000000 3/1/80000000 2/1/80000000 2/1/80000000 0/1/80000000 2/1/80000000'
readonly MARKER='REG_SZ 1.15.1404.0702'
readonly QUESTION_BUTTONS='6 &Yes#7 &No'
readonly FLASH_ARGUMENTS='/cvar /bbl /sd /file 47K31RB4.cap /nodelay'
# What Wine's loader says of a 64-bit file in a 32-bit prefix, and its exit status.
readonly GATE_LOADER_SAYS='Application could not be started, or no application associated with the specified file.#ShellExecuteEx failed: Bad EXE format for C:\users\Public\Downloads\BIOSUpdate.exe.'
readonly GATE_LOADER_STATUS=1
readonly COMPANION_TAIL='Norvik Software\Quilden\Brindle.exe'
readonly MANAGE_BDE_RAN='C:\windows\system32\manage-bde.exe|64-bit'
english_text=$'Do not turn off the power.\r\nBIOS settings will be set to the default values after the update.\r\nIf you install Windows 7, settings must be changed as below.\r\n\r\n  1. BIOS Setup(F2) > Security\r\n  2. Secure Boot Configuration > Secure Boot Option : Off\r\n  3. Save & Exit'
question_hex=$(printf '%s' "$english_text" | od -An -tx1 -v | tr -d ' \n')
# The inputs another program sends, in order (as input_probe names them), and those of them
# that pass the input lock: key-ups, the middle and X buttons, the wheel and pointer moves.
readonly ALL_INPUTS='key-down:0D#key-up:0D#key-down:1B#key-up:1B#key-down:79#key-up:79#key-down:12#key-down:09#key-up:09#key-up:12#key-down:41#key-up:41#left-down#left-up#right-down#right-up#middle-down#middle-up#x-down#x-up#wheel#move'
# The status texts the window draws, in order, up to the flash and up to the same-version refusal
# (any other refusal's text is left out, and the list then ends early).
readonly TEXT_INITIALIZING='Initializing for BIOS update' TEXT_LOADING='Loading BIOS update files.'
readonly TEXT_VERIFYING='Verifing your system BIOS version.'
readonly TEXT_CHECKING='Checking for BIOS update on your system.'
readonly TEXT_UPDATING='Updating now. Approximately 3 minutes to completion.'
readonly TEXT_SAME='Target System BIOS and source System BIOS are same Version.'
readonly STATUS_TEXTS=("$TEXT_INITIALIZING" "$TEXT_LOADING" "$TEXT_VERIFYING" "$TEXT_CHECKING" "$TEXT_UPDATING" "$TEXT_SAME")
readonly PASSING_INPUTS='key-up:0D#key-up:1B#key-up:79#key-up:09#key-up:12#key-up:41#middle-down#middle-up#x-down#x-up#wheel#move'

# shellcheck source=../wine/expect.sh
source "$(dirname "$0")/../wine/expect.sh"
# A fact the run never recorded reads as NOT_RECORDED, not as an empty value: a check that
# expects nothing (no restart, no exit code) must fail when the run never got as far as looking.
readonly NOT_RECORDED='(not recorded)'
fact() { local line; line=$(grep -m 1 "^$1=" "$2/facts" 2>/dev/null) && echo "${line#*=}" || echo "$NOT_RECORDED"; }
# A file's SHA-256, never empty: a missing file must not match a digest that was never recorded.
sha256_of() { local sum; sum=$(sha256sum 2>/dev/null <"$1" | cut -d' ' -f1); echo "${sum:-no SHA-256 of $1}"; }
# The run's folder for UPDATER, in $dir. A run must have taken place in this stage, in the boot
# its folder is named after, with the file of this build tree, and have ended (its status):
# otherwise one failing check says which of these it was, and the run's other checks are not
# made (so a missing run fails its test whatever else passes).
declare -A UPDATER_FILE=([product]=win32/BIOSUpdate.exe [twin]=win64/BIOSUpdate.exe)
run_dir() {  # run_dir BOOT UPDATER RUN
  local boot=$1 who=$2 run=$3 ran why=
  dir=$results/$boot/$who/$run
  ran=$(cat "$dir/updater.sha256" 2>/dev/null)
  local label="$who: the $run run in the $boot boot"
  if [[ ! -d $dir ]]; then
    why="no $dir"
  elif [[ ! -s $dir/status ]]; then
    why="it did not end (no status in $dir)"
  elif [[ $(cat "$dir/boot" 2>/dev/null) != "$boot" ]]; then
    why="its folder holds a run of the boot \"$(cat "$dir/boot" 2>/dev/null)\" (moved or renamed?)"
  elif [[ ! -s $results/stage || $(cat "$dir/stage" 2>/dev/null) != "$(cat "$results/stage")" ]]; then
    why="it was not made by the last guest stage (${results}/stage $(cat "$results/stage" 2>/dev/null || echo missing), the run's $(cat "$dir/stage" 2>/dev/null || echo none)): a boot left from an earlier stage"
  elif [[ $ran != "$(sha256_of "$build/${UPDATER_FILE[$who]}")" ]]; then
    why="it ran another file than $build/${UPDATER_FILE[$who]} (SHA-256 ${ran:-not recorded}): results of another build"
  elif [[ $run =~ ^(update|views|gate)$ && ! -s $dir/facts ]]; then
    why="it recorded no facts (incomplete; $(tail -n 1 "$dir/output" 2>/dev/null))"
  fi
  if [[ -n $why ]]; then
    expect "$label is there to judge" yes "no: $why"
    return 1
  fi
  expect "$label is there to judge" yes yes
}
program_files() { [[ $1 == product ]] && echo 'Program Files (x86)' || echo 'Program Files'; }
# Where the system's programs are for a process of the updater's width on 64-bit Windows.
system_programs() { [[ $1 == product ]] && echo 'C:\windows\syswow64' || echo 'C:\windows\system32'; }

# The status texts among the texts the run drew, in their order.
status_texts_drawn() {  # status_texts_drawn DIR
  local text known
  while IFS= read -r text; do
    for known in "${STATUS_TEXTS[@]}"; do [[ $text == "$known" ]] && echo "$text"; done
  done < <(fact drawn_texts "$1" | tr '#' '\n') | paste -sd '#'
}
# Whether the box of the question is in its screenshot: inside the box's rectangle at least
# half the pixels differ from the screen's background (the colour of the top-left corner, which
# the box does not cover), and outside it none do.
box_in_screenshot() {  # box_in_screenshot BMP RECT(left,top,right,bottom)
  python3 - "$1" "$2" <<'PY'
import struct, sys
try:
    data, (left, top, right, bottom) = open(sys.argv[1], 'rb').read(), map(int, sys.argv[2].split(','))
except (OSError, ValueError):
    sys.exit(print('no screenshot or no rectangle'))
(offset,), (width, height), (bits,) = (struct.unpack_from(f, data, at) for f, at in (('<I', 10), ('<ii', 18), ('<H', 28)))
row, step = (width * bits // 8 + 3) & ~3, bits // 8
pixel = lambda x, y: data[offset + (abs(height) - 1 - y if height > 0 else y) * row + x * step:][:3]
counts = {True: [0, 0], False: [0, 0]}  # inside the box: [pixels, differing from the corner]
for y in range(0, abs(height), 2):
    for x in range(0, width, 2):
        c = counts[left <= x < right and top <= y < bottom]; c[0] += 1; c[1] += pixel(x, y) != pixel(0, 0)
ok = left > 0 and top > 0 and counts[True][1] * 2 > counts[True][0] and counts[False][1] == 0
print('yes' if ok else 'no (%d of %d inside differ from the background, %d outside)' % (counts[True][1], counts[True][0], counts[False][1]))
PY
}

# What every update run shows, flashed or refused.
check_update_common() {  # check_update_common UPDATER DIR BIOS
  local who=$1 dir=$2 brindle
  expect "$who: stand-ins installed" ok "$(fact fixtures "$dir")"
  expect "$who: BIOS version in the firmware tables" "$3" "$(fact bios "$dir")"
  expect "$who: question shown" shown "$(fact question "$dir")"
  expect "$who: question text" "$question_hex" "$(fact question_hex "$dir")"
  expect "$who: question buttons" "$QUESTION_BUTTONS" "$(fact question_buttons "$dir")"
  expect "$who: question icon" exclamation "$(fact question_icon "$dir")"
  expect "$who: the question's screenshot shows its box" yes \
    "$(box_in_screenshot "$dir/question.bmp" "$(fact question_rect "$dir")")"
  # Covered, before the flash or the refusal: the policies and the companion, read first.
  expect "$who: screen covered after the answer" yes "$(fact covered "$dir")"
  expect "$who: companion stopped once the screen is covered" 0 "$(fact companion_covered "$dir")"
  expect "$who: policies off once the screen is covered" "$ALL_OFF" "$(fact policies_covered "$dir")"
  expect "$who: the updater runs as WoW64 process (its own IsWow64Process)" \
    "wow64=$([[ $who == product ]] && echo yes || echo no)" "$(fact updater_wow64 "$dir")"
  check_screen "$who: screen as it is covered" "$dir/covered.bmp"
  check_lock "$who: screen covered" "$dir" covered "$PASSING_INPUTS"
  expect "$who: still covering after those looks" yes "$(fact covering_after_looks "$dir")"
  # The stand-in powrprof.dll held the restore until those looks were taken.
  expect "$who: the finish waited for the looks, not for the hold's bound" file \
    "$(fact powrprof "$dir" | tr '#' '\n' | sed -n 's/^hold ended //p')"
  expect "$who: exit code" 0 "$(fact exit "$dir")"
  expect "$who: companion running before" 1 "$(fact companion_before "$dir")"
  expect "$who: policies applied first: buttons and lid do nothing" "$ALL_OFF" "$(fact first_applied "$dir")"
  expect "$who: policies back after the run" "$RESTORED" "$(fact policies_after "$dir")"
  brindle="start C:\\$(program_files "$who")\\$COMPANION_TAIL"
  expect "$who: companion started again (its starts)" "$brindle#$brindle" "$(fact brindle "$dir")"
  expect "$who: companion running after" 1 "$(fact companion_after "$dir")"
  expect "$who: marker" "$MARKER" "$(fact marker "$dir" | tr -s ' ')"
  expect "$who: working folder gone" no "$(fact work_dir_after "$dir")"
}

# The progress screen in a screenshot, by the pixel checks of the twin's Wine runs.
check_screen() {  # check_screen LABEL SCREENSHOT
  local m
  if [[ ! -f $2 ]]; then
    expect "$1: screenshot" taken missing
    return
  fi
  m=$(python3 "$here/../wine/screen_check.py" "$2" "$PICTURE" "$STATUS_TOP")
  expect "$1: picture centred" 192,144 "$(sed -n 's/^found=//p' <<<"$m")"
  expect "$1: black around the picture" 0 "$(sed -n 's/^outside_not_black=//p' <<<"$m")"
  expect "$1: picture unchanged outside text and track" 0 "$(sed -n 's/^picture_differs=//p' <<<"$m")"
  expect "$1: track frame" "0 0" \
    "$(sed -n 's/^frame_outer_wrong=//p; s/^frame_inner_wrong=//p' <<<"$m" | paste -sd ' ')"
  expect "$1: mark's blues only in the track" 0 "$(sed -n 's/^blue_outside_track=//p' <<<"$m")"
  expect "$1: track's inside is one frame of the mark" yes \
    "$(grep -q '^mark_frames=[0-9]' <<<"$m" && echo yes || echo no)"
  expect "$1: white only in the status row" 0 "$(sed -n 's/^white_outside_status_row=//p' <<<"$m")"
  expect "$1: status text drawn" yes \
    "$( (($(sed -n 's/^white_in_status_row=//p' <<<"$m") > 0)) && echo yes || echo no)"
}

check_update() {
  local who dir folder m tool_sum capsule_sum
  tool_sum=$(sha256_of "$build/win64/tools/capsule/WinFlash64.exe")
  capsule_sum=$(sha256_of "$build/payload/47K31RB4.cap")
  for who in product twin; do
    run_dir main "$who" update || continue
    folder="C:\\$(program_files "$who")\\BIOSUPDATE"
    check_update_common "$who" "$dir" 47K31RA9
    expect "$who: flash tool seen running" yes "$(fact flash_tool_seen "$dir")"
    expect "$who: working folder while the tool runs" '47K31RB4.cap#WinFlash64.exe' "$(fact work_files "$dir")"
    expect "$who: flash tool written byte for byte" "$tool_sum" "$(fact tool_sha256 "$dir")"
    expect "$who: capsule written byte for byte" "$capsule_sum" "$(fact capsule_sha256 "$dir")"
    expect "$who: flash tool command line" "$folder\\WinFlash64.exe $FLASH_ARGUMENTS" \
      "$(fact flash_cmdline "$dir")"
    expect "$who: flash tool working folder" "$folder" "$(fact flash_cwd "$dir")"
    expect "$who: flash tool accepted the capsule" 0 "$(fact flash_exit "$dir")"
    expect "$who: power policies while the tool runs" "$ALL_OFF" "$(fact policies_during "$dir")"
    expect "$who: companion stopped while the tool runs" 0 "$(fact companion_during "$dir")"
    expect "$who: window covers the screen, topmost" 'rect=0,0,1024,768 topmost=1' \
      "$(fact window "$dir" | tr '#' '\n' | grep -E '^(rect|topmost)=' | paste -sd ' ')"
    # The recording shutdown.exe of the updater's width, in the system folder its command
    # interpreter sees, started with the restart command.
    expect "$who: restart requested once, by the system's shutdown.exe" \
      "$(system_programs "$who")\\shutdown.exe|shutdown -r -f|C:\\windows\\system32" "$(fact runs "$dir")"
    expect "$who: the stand-in flash tool ended when the looks were taken, not on its bound" file \
      "$(fact flash_until "$dir")"
    expect "$who: status texts drawn" \
      "$TEXT_INITIALIZING#$TEXT_LOADING#$TEXT_VERIFYING#$TEXT_CHECKING#$TEXT_UPDATING" "$(status_texts_drawn "$dir")"
    check_bitlocker_suspended "$who" "$dir"
    check_screen "$who: flashing screen as the tool starts" "$dir/flash-start.bmp"
    check_screen "$who: flashing screen while the tool runs" "$dir/flash.bmp"
  done
  # The same question from both files, down to the pixel.
  if [[ -f $results/main/product/update/question.bmp && -f $results/main/twin/update/question.bmp ]]; then
    expect "product's question looks exactly as the twin's" same \
      "$(cmp -s "$results/main/product/update/question.bmp" "$results/main/twin/update/question.bmp" && echo same || echo different)"
  else
    expect "screenshots of both questions" taken missing
  fi
}

check_refusal() {
  local who dir
  for who in product twin; do
    run_dir refusal "$who" update || continue
    check_update_common "$who" "$dir" 47K31RB4
    expect "$who: flash tool not started" "no|" "$(fact flash_tool_seen "$dir")|$(fact flash_cmdline "$dir")"
    # Which refusal: the same version's text, not the one of a model it could not read.
    expect "$who: status texts drawn: the same version refused" \
      "$TEXT_INITIALIZING#$TEXT_LOADING#$TEXT_VERIFYING#$TEXT_SAME" "$(status_texts_drawn "$dir")"
    expect "$who: no restart" "" "$(fact runs "$dir")"
    expect "$who: a refused update asks manage-bde nothing" "" "$(fact manage_bde_commands "$dir")"
  done
}

# The system's manage-bde, 64-bit only: the product reaches it through Sysnative, the twin
# through System32; the volume suspended for one restart before the flash tool starts.
check_bitlocker_suspended() {  # check_bitlocker_suspended UPDATER DIR
  local who=$1 dir=$2 folder=System32 bde end start
  [[ $who == product ]] && folder=Sysnative
  bde="\"C:\\windows\\$folder\\manage-bde.exe\""
  expect "$who: manage-bde's command lines" \
    "$bde -status C: -ProtectionAsErrorLevel#$bde -protectors -disable C: -RebootCount 1#$bde -status C: -ProtectionAsErrorLevel" \
    "$(fact manage_bde_commands "$dir")"
  expect "$who: the 64-bit manage-bde of the 64-bit system folder ran" \
    "$MANAGE_BDE_RAN" "$(fact manage_bde_ran "$dir")"
  expect "$who: suspended for one restart after the run" 1 "$(fact bitlocker_suspension "$dir")"
  end=$(fact manage_bde_last_end "$dir") start=$(fact flash_start "$dir")
  expect "$who: manage-bde done before the flash tool started" yes \
    "$([[ $end =~ ^[0-9]+$ && $start =~ ^[0-9]+$ ]] && ((end <= start)) && echo yes || echo "no (manage-bde ended at $end, the tool started at $start)")"
}

# What of the inputs reached the probe's hooks and another program's window given the focus.
check_lock() {  # check_lock LABEL DIR FACT_SUFFIX EXPECTED
  expect "$1: inputs that pass the lock (probe's hooks)" "$4" "$(fact "inputs_$3" "$2")"
  expect "$1: inputs another program's window receives" "$4" "$(fact "window_inputs_$3" "$2")"
}

check_input_lock() {
  local who dir
  for who in product twin; do
    run_dir main "$who" update || continue
    expect "$who: the probe's hooks installed before the run" ready "$(fact input_watch "$dir")"
    check_lock "$who: as the tool starts, only key-ups, middle and X buttons, wheel and moves pass" \
      "$dir" locked_at_start "$PASSING_INPUTS"
    check_lock "$who: while the tool runs, only key-ups, middle and X buttons, wheel and moves pass" \
      "$dir" locked "$PASSING_INPUTS"
    expect "$who: inputs sent while the flash tool still ran" yes "$(fact flash_tool_still_running "$dir")"
    expect "$who: the updater still runs after its finish, its restart held" yes "$(fact running_after_finish "$dir")"
    check_lock "$who: after the finish, while the updater still runs, every input passes" "$dir" after_finish "$ALL_INPUTS"
    check_lock "$who: after the run every input passes" "$dir" released "$ALL_INPUTS"
  done
}

# An existing end-to-end check, run on each file in the guest.
check_wine_run() {  # check_wine_run RUN
  local who dir
  for who in product twin; do
    run_dir main "$who" "$1" || continue
    expect "$who: $1 checks pass ($(tail -n 1 "$dir/output"))" 0 "$(cat "$dir/status")"
    grep '^FAIL' -A2 "$dir/output" | sed "s/^/  $who: /"
  done
}

check_cleanup() {
  local who dir
  check_wine_run cleanup_mode
  for who in product twin; do
    run_dir main "$who" views || continue
    expect "$who: Run value set in both views before the clean-up" yes/yes \
      "$(fact run_value_32_before "$dir")/$(fact run_value_64_before "$dir")"
    expect "$who: clean-up exit code" 0 "$(fact exit "$dir")"
    expect "$who: clean-up shows no window" 0 "$(fact windows "$dir")"
    expect "$who: working folder gone" no "$(fact work_dir_after "$dir")"
    # Each removes the Run value in the registry view of its own width only.
    local own=64 other=32
    [[ $who == product ]] && own=32 other=64
    expect "$who: Run value gone from the $own-bit view" no "$(fact "run_value_$own" "$dir")"
    expect "$who: Run value of the $other-bit view left" yes "$(fact "run_value_$other" "$dir")"
    # What a driver of the updater's width sees of the same Windows.
    if [[ $who == product ]]; then
      expect "$who: a 32-bit process's view of 64-bit Windows" \
        'bits=32#wow64=yes#native=amd64#system=C:\windows\system32#system_wow64=C:\windows\syswow64#program_files=C:\Program Files (x86)' \
        "$(fact view "$dir")"
    else
      expect "$who: a 64-bit process's view of 64-bit Windows" \
        'bits=64#wow64=no#native=amd64#system=C:\windows\system32#system_wow64=C:\windows\syswow64#program_files=C:\Program Files' \
        "$(fact view "$dir")"
    fi
  done
}

check_gate() {
  local dir
  if run_dir main product gate; then
    expect "32-bit Windows as a 32-bit process sees it" \
      'bits=32#wow64=no#native=x86#system=C:\windows\system32#system_wow64=none#program_files=C:\Program Files' \
      "$(fact view "$dir")"
    expect "product on 32-bit Windows: message" 'Norvik BIOS Updater only for 64-bit OS.' "$(fact gate_text "$dir")"
    expect "product on 32-bit Windows: OK only" '1 OK' "$(fact gate_buttons "$dir")"
    expect "product on 32-bit Windows: the warning icon" exclamation "$(fact gate_icon "$dir")"
    expect "product on 32-bit Windows: exit code" 0 "$(fact exit "$dir")"
  fi
  # The twin, a 64-bit file, does not even start there; in the 64-bit prefix it asks.
  if run_dir main twin gate; then
    expect "twin on 32-bit Windows: no message box" none "$(fact gate_text "$dir")"
    expect "twin on 32-bit Windows: the driver could not start it" '' "$(fact exit "$dir")"
    # Started by Wine's loader itself: refused, with Wine's reason.
    expect "twin on 32-bit Windows: the loader's exit status" "$GATE_LOADER_STATUS" "$(fact loader_status "$dir")"
    expect "twin on 32-bit Windows: the loader says" "$GATE_LOADER_SAYS" "$(fact loader_says "$dir")"
  fi
}

case $kind in
  update) check_update ;;
  refusal) check_refusal ;;
  answer_no) check_wine_run answer_no ;;
  cleanup) check_cleanup ;;
  input_lock) check_input_lock ;;
  gate) check_gate ;;
  *) echo "check.sh: unknown kind $kind" >&2; exit 2 ;;
esac
tally
