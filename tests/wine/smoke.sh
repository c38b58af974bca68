#!/usr/bin/env bash
# Self-check of the Wine harness (lib.sh) and of wintest.exe: makes a private prefix,
# has wintest show message boxes of known text, icon and buttons, and checks every
# command against them, in the default and in the Korean locale.
#
# Usage: smoke.sh PATH/TO/wintest.exe
# Prints one line per failed check and ends with "N passed, N failed".
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

[[ $# -eq 1 && -f "$1" ]] || { echo "usage: smoke.sh PATH/TO/wintest.exe" >&2; exit 2; }
WINTEST_EXE=$(realpath "$1")
export WINTEST_EXE

readonly MB_OK=0x0 MB_YESNO=0x4
readonly MB_ICONHAND=0x10 MB_ICONQUESTION=0x20 MB_ICONEXCLAMATION=0x30 MB_ICONASTERISK=0x40
readonly IDOK=1 IDYES=6 IDNO=7
readonly TEXT_ID=65535   # the static that holds a message box's text
readonly WAIT_MS=10000

state=$(mktemp -d /tmp/wine-smoke.XXXXXX)
trap 'wine_prefix_destroy "$state"' EXIT

# shellcheck source=expect.sh
source "$here/expect.sh"
pass() { expect "${1:-}" ok ok; }
fail() { expect "$1" ok failed; }

# expect_match NAME REGEX ACTUAL
expect_match() {
  if [[ "$3" =~ $2 ]]; then pass; else fail "$1: [$3] does not match $2"; fi
}

# check NAME COMMAND...: passes when COMMAND succeeds.
check() {
  local name="$1"
  shift
  if "$@"; then pass; else fail "$name"; fi
}

# expect_status NAME STATUS COMMAND...
expect_status() {
  local name="$1" want="$2"
  shift 2
  "$@" >/dev/null
  expect "$name (exit status)" "$want" "$?"
}

# Shows a message box from wintest in the background; its answer goes to
# $state/answer.TAG. Returns once the box is up.
box_pid=
show_box() {
  local text="$1" caption="$2" flags="$3" tag="$4"
  wine_driver msgbox "$text" "$caption" "$flags" >"$state/answer.$tag" &
  box_pid=$!
  wine_driver wait-window '#32770' "$caption" "$WAIT_MS" >"$state/hwnd.$tag" ||
    fail "$tag: no box appeared"
}

# Presses a button of the box and checks that it closed with that answer.
answer_box() {
  local caption="$1" id="$2" tag="$3"
  expect_status "$tag: click" 0 wine_driver click - "$caption" "$id"
  if ! wine_driver wait-gone - "$caption" "$WAIT_MS"; then
    fail "$tag: box still there after the click"
    return  # left for wine_prefix_destroy to end
  fi
  pass
  wait "$box_pid"
  expect "$tag: answer" "$id" "$(cat "$state/answer.$tag")"
}

hex_of() { od -An -tx1 -v | tr -d ' \n'; }

# The 24-bit pixel (x, y) of a bottom-up BMP file, as 6 hex digits (blue first).
bmp_pixel() {
  local file="$1" x="$2" y="$3" width height stride
  width=$(od -An -tu4 -j18 -N4 "$file" | tr -d ' ')
  height=$(od -An -tu4 -j22 -N4 "$file" | tr -d ' ')
  stride=$(((width * 3 + 3) / 4 * 4))
  od -An -tx1 -j$((54 + (height - 1 - y) * stride + x * 3)) -N3 "$file" | tr -d ' \n'
}

check_prefix() {
  if ! wine_prefix_create "$state"; then
    fail "wine_prefix_create"
    return 1
  fi
  pass
  expect "env.sh names the prefix" "$state/prefix" \
    "$(bash -c "source '$state/env.sh'; echo \$WINEPREFIX")"
  check "X socket for $DISPLAY" test -S "/tmp/.X11-unix/X${DISPLAY#:}"
  check "prefix has a registry" test -f "$WINEPREFIX/system.reg"
  expect "wine_win_path" 'Z:\tmp\a b\c.exe' "$(wine_win_path '/tmp/a b/c.exe')"
}

check_usage_errors() {
  expect_status "no command" 2 wine_driver
  expect_status "unknown command" 2 wine_driver no-such-command
  expect_status "too few arguments" 2 wine_driver wait-window -
  expect_status "bad timeout" 2 wine_driver wait-window - x 10ms
  expect_status "bad control id" 2 wine_driver text - x 0xZZ
  expect_status "missing window" 1 wine_driver text - "No such window"
  expect_status "wait for missing window" 1 wine_driver wait-window - "No such window" 200
  expect_status "wait-gone of missing window" 0 wine_driver wait-gone - "No such window" 200
  expect_status "list-windows" 0 wine_driver list-windows
}

check_question_box() {
  local caption="Smoke Yes No" text="Update the BIOS now?" hwnd info shot
  show_box "$text" "$caption" $((MB_YESNO | MB_ICONEXCLAMATION)) yesno
  hwnd=$(cat "$state/hwnd.yesno")
  expect_match "wait-window prints the handle" '^0x[0-9a-f]+$' "$hwnd"
  expect "list-windows shows the box" "1" \
    "$(wine_driver list-windows | grep -c "^$hwnd [0-9]* #32770|$caption\$")"
  expect "caption text" "$caption" "$(wine_driver text '#32770' "$caption")"
  expect "message text" "$text" "$(wine_driver text - "$caption" "$TEXT_ID")"
  expect "message hex" "$(printf '%s' "$text" | hex_of)" "$(wine_driver hex - "$caption" 0xffff)"
  expect_status "missing control" 1 wine_driver text - "$caption" 4242
  expect "button ids" "$IDYES $IDNO" "$(wine_driver buttons - "$caption" | cut -d' ' -f1 | xargs)"
  expect "button texts" "&Yes|&No" \
    "$(wine_driver buttons - "$caption" | cut -d' ' -f2- | paste -sd'|')"
  expect "icon" exclamation "$(wine_driver icon - "$caption")"

  info=$(wine_driver window-info - "$caption")
  expect_match "window-info pid" $'(^|\n)pid=[1-9][0-9]*\n' "$info"
  expect_match "window-info rect" $'\nrect=-?[0-9]+,-?[0-9]+,[0-9]+,[0-9]+\n' "$info"
  expect "window-info visible" 1 "$(sed -n 's/^visible=//p' <<<"$info")"
  expect "window-info caption" "$caption" "$(sed -n 's/^caption=//p' <<<"$info")"

  shot="$state/with-box.bmp"
  expect "screenshot" "${XVFB_SCREEN_W}x${XVFB_SCREEN_H} $(wine_win_path "$shot")" \
    "$(wine_driver screenshot "$(wine_win_path "$shot")")"
  expect "screenshot size" $((54 + (XVFB_SCREEN_W * 3 + 3) / 4 * 4 * XVFB_SCREEN_H)) \
    "$(stat -c %s "$shot")"
  expect "screenshot magic" "424d" "$(head -c2 "$shot" | hex_of)"
  # Pixel for pixel against the X server's own picture, where ImageMagick is installed.
  if command -v import >/dev/null && command -v compare >/dev/null; then
    import -display "$DISPLAY" -window root "$state/x-root.png"
    expect "screenshot = X screen (pixels differing)" 0 \
      "$(compare -metric AE "$shot" "$state/x-root.png" null: 2>&1)"
  fi
  local rect
  IFS=, read -r -a rect <<<"$(sed -n 's/^rect=//p' <<<"$info")"

  answer_box "$caption" "$IDNO" yesno

  # Near the box's bottom-left corner, plain dialog background before, bare screen
  # after it closed: the screenshot reads the right place, rows the right way up.
  wine_driver screenshot "$(wine_win_path "$state/without-box.bmp")" >/dev/null
  local x=$((rect[0] + 8)) y=$((rect[3] - 8))
  check "screenshot: the box's pixels went with it" \
    test "$(bmp_pixel "$shot" "$x" "$y")" != "$(bmp_pixel "$state/without-box.bmp" "$x" "$y")"
}

check_icons() {
  local flags name
  for flags in $MB_ICONHAND:hand $MB_ICONQUESTION:question $MB_ICONASTERISK:asterisk \
    $MB_OK:none; do
    name=${flags#*:}
    show_box "Icon check" "Smoke icon $name" "${flags%%:*}" "icon-$name"
    expect "icon $name" "$name" "$(wine_driver icon - "Smoke icon $name")"
    expect "OK box buttons ($name)" "$IDOK" \
      "$(wine_driver buttons - "Smoke icon $name" | cut -d' ' -f1)"
    answer_box "Smoke icon $name" "$IDOK" "icon-$name"
  done
}

check_run() {
  local self out cmdline_file
  self=$(wine_win_path "$WINTEST_EXE")

  wine_driver run "$WAIT_MS" "$self" "msgbox \"Run text\" \"Smoke Run\" $MB_YESNO" \
    >"$state/run.out" &
  local run_pid=$!
  expect_status "run: box up" 0 wine_driver wait-window '#32770' "Smoke Run" "$WAIT_MS"
  expect_status "run: click" 0 wine_driver click - "Smoke Run" "$IDYES"
  wait "$run_pid"
  expect "run: status" 0 "$?"
  expect "run: report" "$IDYES|exit=0|windows=1|window #32770|Smoke Run" \
    "$(paste -sd'|' "$state/run.out")"

  # ARGS_TEXT goes after one space exactly as given, its own leading space kept.
  cmdline_file="$state/cmdline.txt"
  out=$(wine_driver run "$WAIT_MS" "$self" " write-cmdline $(wine_win_path "$cmdline_file")")
  expect "run: child exit" "exit=0|windows=0" "$(paste -sd'|' <<<"$out")"
  expect "run: command line" "\"$self\"  write-cmdline $(wine_win_path "$cmdline_file")" \
    "$(cat "$cmdline_file")"
  out=$(wine_driver run "$WAIT_MS" "$self")
  expect "run: child exit code passed on" "exit=2" "$(head -n1 <<<"$out")"

  out=$(wine_driver run 1500 "$self" "msgbox \"Never answered\" \"Smoke Timeout\" $MB_OK")
  expect "run: timeout status" 1 "$?"
  expect "run: timeout report" "timeout|windows=1|window #32770|Smoke Timeout" \
    "$(paste -sd'|' <<<"$out")"
  expect_status "run: timed-out program ended" 0 wine_driver wait-gone - "Smoke Timeout" 3000
  expect_status "run: missing program" 1 wine_driver run 1000 'Z:\no\such\program.exe'
}

check_locale() {
  local caption="바이오스 업데이트" text="바이오스를 업데이트하시겠습니까?"
  if ! wine_locale ko_KR.UTF-8; then
    fail "wine_locale ko_KR.UTF-8"
    return
  fi
  expect "Korean locale" "langid=0x0412|lcid=0x0412|acp=949" \
    "$(wine_driver system-locale | paste -sd'|')"
  show_box "$text" "$caption" $((MB_YESNO | MB_ICONQUESTION)) korean
  expect "Korean text as code page 949" \
    "$(printf '%s' "$text" | iconv -f UTF-8 -t CP949 | hex_of)" \
    "$(wine_driver hex - "$caption" "$TEXT_ID")"
  expect "Korean caption" "$(printf '%s' "$caption" | iconv -f UTF-8 -t CP949 | hex_of)" \
    "$(wine_driver hex '#32770' "$caption")"
  expect "Korean button ids" "$IDYES $IDNO" \
    "$(wine_driver buttons - "$caption" | cut -d' ' -f1 | xargs)"
  expect "Korean box icon" question "$(wine_driver icon - "$caption")"
  answer_box "$caption" "$IDYES" korean

  if ! wine_locale default; then
    fail "wine_locale default"
    return
  fi
  expect "back to the default locale" "langid=0x0409|lcid=0x0409|acp=1252" \
    "$(wine_driver system-locale | paste -sd'|')"
}

main() {
  local screen="${XVFB_SCREEN:-1024x768x24}"
  XVFB_SCREEN_W=${screen%%x*}
  screen=${screen#*x}
  XVFB_SCREEN_H=${screen%%x*}
  if check_prefix; then
    check_usage_errors
    check_question_box
    check_icons
    check_run
    check_locale
  fi
  if ((failed > 0)); then wine_log_tail 30; fi
  tally
}

main
