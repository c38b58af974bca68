#!/usr/bin/env bash
# Builds BIOSUpdate.exe and runs its 64-bit twin under Wine in a private prefix.
#
# With a screen ($DISPLAY reachable) the updater appears there and you answer it yourself.
# Without one (or with --xvfb) it runs a whole update on a private Xvfb screen, with the
# stand-ins of the Wine checks installed: a powrprof.dll that keeps the power policies in the
# registry, a shutdown.exe that only records how it was asked to restart, and the stand-in
# flash tool, which takes a few seconds (--flash-ms). Wine reports the BIOS version given
# with --bios. The question is answered by the test driver (--answer yes|no, default yes).
# The output folder (SCREENSHOT_DIR, default build/screenshots) gets a screenshot of the
# question, one as each status text first shows, one while the flash tool runs and one of
# the end, and summary.html, which shows them in order beside what the logs say happened.
#   --korean          run on a Korean system (language and locale 0x412, code page 949)
#   --bios VERSION    the running BIOS version Wine reports (default 47K31RA9, which the
#                     carried capsule 47K31RB4 updates; 47K31RB4, 47K31RC1 or 47K31FB4 are
#                     refused); "wine" leaves Wine's own answer, "Wine" (another model)
#   --flash-ms N      how long the stand-in flash tool runs (default 5000)
#   --xvfb            the run on a private Xvfb screen even when a screen is reachable
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

readonly DEFAULT_BIOS=47K31RA9
readonly DEFAULT_FLASH_MS=5000
readonly WINE_OWN_BIOS=wine
readonly USAGE="usage: run.sh [--answer yes|no] [--korean] [--bios VERSION] [--flash-ms N] [--xvfb]"
answer=yes
korean=no
bios=$DEFAULT_BIOS
flash_ms=$DEFAULT_FLASH_MS
force_xvfb=no
while [[ $# -gt 0 ]]; do
  case "$1" in
    --answer) answer=${2:-}; shift 2 || shift ;;
    --korean) korean=yes; shift ;;
    --bios) bios=${2:-}; shift 2 || shift ;;
    --flash-ms) flash_ms=${2:-}; shift 2 || shift ;;
    --xvfb) force_xvfb=yes; shift ;;
    *) echo "$USAGE" >&2; exit 2 ;;
  esac
done
[[ $answer == yes || $answer == no ]] || { echo "$USAGE" >&2; exit 2; }
# The version goes into a device description line by line: no blanks, no line breaks.
[[ $bios =~ ^[A-Za-z0-9._-]+$ ]] || { echo "run.sh: --bios wants letters, digits, . _ -" >&2; exit 2; }
[[ $flash_ms =~ ^[0-9]+$ ]] || { echo "run.sh: --flash-ms wants a number of milliseconds" >&2; exit 2; }

readonly RUN_LIMIT_S=${RUN_LIMIT_S:-900}
readonly IDYES=6 IDNO=7
readonly QUESTION_CLASS='#32770' QUESTION_CAPTION='BIOS update'
# A message box's text is its static control with the id -1.
readonly QUESTION_TEXT_ID=65535
readonly KOREAN_LOCALE=ko_KR.UTF-8
readonly POLL_S=0.1
readonly US_PER_MS=1000
# wmic prints a header line, then the value.
readonly WMIC_VALUE_LINE=2
# The question is found as soon as its window exists; its text is drawn a moment later.
readonly QUESTION_SETTLE_S=0.5
# After the updater ends: the restart request of a program it started may land a moment later.
readonly END_SETTLE_TRIES=30
readonly END_SETTLE_POLL_S=0.1
readonly FLASH_TOOL_NAME=WinFlash64.exe
readonly MARKER_KEY='HKU\.DEFAULT\Software\NRVK\BIOSUPDATE\Parameters'
readonly MARKER_VALUE_NAME=Version
# Wine's trace of the text it draws, with times: what the updater showed, and when.
readonly TRACE_CHANNELS=-all,+timestamp,+text
# The status text is drawn across the whole 640-pixel picture, from x 0 to 640; no other text
# of the run is. Its DrawText trace line reads: DrawTextExW L"<text>", <length>, [(0,<top>)-(640,
readonly STATUS_TRACE_PATTERN='DrawTextExW L".*", [0-9-]*, \[(0,[0-9]*)-(640,'

"$root/scripts/build.sh"
source "$root/tests/wine/lib.sh"

user_display=${DISPLAY:-}
state=$(mktemp -d /tmp/biosupdate-run.XXXXXX)
trap 'wine_prefix_destroy "$state"' EXIT
echo "Making a private Wine prefix in $state ..."
wine_prefix_create "$state"
export WINTEST_EXE=$build_dir/win64/tools/wintest/wintest.exe
[[ $korean == yes ]] && wine_locale "$KOREAN_LOCALE"

program_dir="$WINEPREFIX/drive_c/users/Public/Downloads"
mkdir -p "$program_dir"
cp "$build_dir/win64/BIOSUpdate.exe" "$program_dir/"

display_number=${user_display#*:}
display_number=${display_number%%.*}
if [[ $force_xvfb == no && -n "$user_display" && -S /tmp/.X11-unix/X$display_number ]]; then
  export DISPLAY=$user_display
  echo "Running BIOSUpdate.exe on $DISPLAY; answer it there."
  (cd "$program_dir" && wine_exec BIOSUpdate.exe) || true
  exit 0
fi

# ---- A whole update on the private Xvfb screen -------------------------------------------------

shots=${SCREENSHOT_DIR:-$build_dir/screenshots}
mkdir -p "$shots"
rm -f "$shots"/*.png "$shots/summary.html" "$shots/facts.txt" "$shots/shots.tsv" "$shots/wine-trace.log"
readonly FACTS="$shots/facts.txt" SHOT_LIST="$shots/shots.tsv" TRACE="$shots/wine-trace.log"
readonly FLASH_LOG_WIN='C:\fixture-logs\winflash.log'
readonly EXIT_FILE="$state/updater-exit" START_FILE="$state/updater-start-ms"

# fixtures.sh finds its stand-ins next to the twin, and the prefix through the variables above.
export FIXTURES_BIN=$build_dir/win64/tools/fixtures
source "$root/tests/wine/fixtures.sh"
# The clean-up runs to its end whatever fails in it (no errexit there).
trap 'set +e; fixtures_uninstall >/dev/null 2>&1; wine_prefix_destroy "$state"' EXIT
echo "Installing the stand-ins (power calls, shutdown.exe) in the prefix ..."
fixtures_install
fixtures_reset
readonly FLASH_LOG="$FIXTURE_LOG_DIR/winflash.log"

now_ms() { echo $((${EPOCHREALTIME/./} / US_PER_MS)); }
fact() { printf '%s=%s\n' "$1" "$2" >>"$FACTS"; }
facts_lines() {  # facts_lines KEY: one KEY=line per line of stdin
  local line
  while IFS= read -r line || [[ -n $line ]]; do fact "$1" "${line%$'\r'}"; done
}

# What Wine answers for the BIOS, asked the way the updater asks (WMI, Win32_BIOS).
reported_bios() {
  wine_exec wmic bios get SMBIOSBIOSVersion 2>/dev/null | iconv -f UTF-16 -t UTF-8 2>/dev/null |
    tr -d '\r' | sed -n "$WMIC_VALUE_LINE{s/^ *//;s/ *\$//;p}"
}
fact asked_bios "$bios"
fact asked_answer "$answer"
fact asked_korean "$korean"
fact flash_delay_ms "$flash_ms"
# Wine's own answer, or the version given, as umockdev makes Wine read it.
with_bios() {
  if [[ ${bios,,} == "$WINE_OWN_BIOS" ]]; then "$@"; else bios_version_run "$bios" "$@"; fi
}
fact reported_bios "$(with_bios reported_bios)"
system_locale=$(wine_driver system-locale | tr -d '\r')
fact system_locale "$(paste -sd ' ' <<<"$system_locale")"
# The driver reads window texts in the system's code page.
code_page=$(sed -n 's/^acp=//p' <<<"$system_locale")
fact policy_before "$(power_policy_triples)"
fact scheme_before "$(power_active_scheme)"

# The updater itself, with Wine's text trace on; runs inside bios_version_run.
run_updater() {
  local code=0
  now_ms >"$START_FILE"
  (cd "$program_dir" &&
    WINEDEBUG=$TRACE_CHANNELS WINFLASH_LOG=$FLASH_LOG_WIN WINFLASH_DELAY_MS=$flash_ms \
      "$WINELOADER" BIOSUpdate.exe </dev/null 2>"$TRACE") || code=$?
  echo "$code" >"$EXIT_FILE"
}

shot_count=0
shoot() {  # shoot KIND [STATUS_INDEX]
  local taken name
  taken=$(now_ms)
  shot_count=$((shot_count + 1))
  name=$(printf '%02d-%s.png' "$shot_count" "$1")
  if import -window root "$shots/$name" 2>/dev/null; then
    printf '%s\t%s\t%s\t%s\n' "$name" "$taken" "$1" "${2:-}" >>"$SHOT_LIST"
  else
    shot_count=$((shot_count - 1))
  fi
}
# How many times the status text has changed so far, as Wine's trace shows it drawn.
status_changes() { { grep -a -o "$STATUS_TRACE_PATTERN" "$TRACE" 2>/dev/null || true; } | uniq | wc -l; }
# Whether the flash tool runs in this prefix (a Linux process of Wine, seen in /proc).
flash_tool_running() {
  local pid
  for pid in $(pgrep -f "$FLASH_TOOL_NAME" 2>/dev/null); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

echo "No screen: running a whole update on Xvfb $DISPLAY (BIOS $bios, answer $answer)"
: >"$TRACE"
with_bios run_updater &
program=$!

answered=no
flash_seen=no
seen_changes=0
start=$SECONDS
while kill -0 "$program" 2>/dev/null && ((SECONDS - start < RUN_LIMIT_S)); do
  if [[ $answered == no ]]; then
    if wine_driver wait-window "$QUESTION_CLASS" "$QUESTION_CAPTION" 0 >/dev/null 2>&1; then
      fact question_ms "$(now_ms)"
      sleep "$QUESTION_SETTLE_S"
      shoot question
      wine_driver text "$QUESTION_CLASS" "$QUESTION_CAPTION" "$QUESTION_TEXT_ID" 2>/dev/null |
        iconv -f "CP$code_page" -t UTF-8 2>/dev/null | facts_lines question_text || true
      id=$IDYES
      [[ $answer == no ]] && id=$IDNO
      echo "Answering the question: $answer"
      fact answered_ms "$(now_ms)"
      wine_driver click "$QUESTION_CLASS" "$QUESTION_CAPTION" "$id" >/dev/null 2>&1 || true
      answered=yes
    fi
  else
    changes=$(status_changes)
    if ((changes > seen_changes)); then
      seen_changes=$changes
      shoot status "$changes"
    elif [[ $flash_seen == no ]] && flash_tool_running; then
      flash_seen=yes
      shoot flashing
    fi
  fi
  sleep "$POLL_S"
done
if kill -0 "$program" 2>/dev/null; then
  echo "BIOSUpdate.exe still running after ${RUN_LIMIT_S} s: stopping it"
  wine_exec taskkill /F /IM BIOSUpdate.exe >/dev/null 2>&1 || true
fi
wait "$program" || true
fact ended_ms "$(now_ms)"
fact started_ms "$(cat "$START_FILE" 2>/dev/null)"
fact exit_code "$(cat "$EXIT_FILE" 2>/dev/null)"
# A restart is requested by the updater's last act; give its record a moment to land.
for ((try = 0; try < END_SETTLE_TRIES; try++)); do
  [[ -n "$(fixture_log runs)" ]] && break
  [[ -s "$FLASH_LOG" ]] || break
  sleep "$END_SETTLE_POLL_S"
done
shoot end

if [[ -f "$FLASH_LOG" ]]; then tr -d '\r' <"$FLASH_LOG" | facts_lines flash; fi
# No marker is a fact too: reg query then fails, and the summary says "absent".
{ wine_exec reg query "$MARKER_KEY" /v "$MARKER_VALUE_NAME" 2>/dev/null || true; } | tr -d '\r' |
  sed -n "s/^ *$MARKER_VALUE_NAME *\(REG_[A-Z_]*\) *\(.*\)\$/\1 \2/p" | facts_lines marker
fixture_log powrprof | facts_lines powrprof
fixture_log runs | facts_lines runs
fact policy_after "$(power_policy_triples)"
fact scheme_after "$(power_active_scheme)"

python3 "$root/scripts/run_summary.py" "$shots"
code=$(cat "$EXIT_FILE" 2>/dev/null || echo "?")
echo "BIOSUpdate.exe ended with exit code $code after $((SECONDS - start)) s; $shot_count screenshots and summary.html in $shots"
