#!/usr/bin/env bash
# Measures the 64-bit twin of BIOSUpdate.exe under Wine, each figure beside a baseline measured
# in the same invocation, and writes docs/BENCHMARKS.md (or BENCH_OUT) with each goal beside
# its figure. Not part of the test command; takes about six minutes on two cores. BENCH_UPDATER
# names another build of the twin to measure (a candidate fix), BENCH_RUNS the runs (5 or more).
#
#   1. CPU while the progress screen animates, as a share of one core: utime+stime of the
#      updater's Wine process (/proc/PID/stat) from 2 s to 12 s after its window covers the
#      screen; baseline: bench/bare_message_box.exe idling at its message box as long.
#   2. Process start to the question on screen, against bare_message_box.exe: a driver polling
#      for the message box (every 10 ms) is started first; the clock runs from the fork of
#      the Wine loader to the driver's report. The updater's question is answered No.
#   3. Writing the capsule: the file's IN_CREATE to its IN_CLOSE_WRITE (inotify, watched from
#      a process outside Wine) in the working folder during a whole run; baseline: the same
#      events for `cmd /c copy` of the same file into the same folder of the same prefix. Beside
#      them bench/write_probe.exe does the updater's write alone (its resource, one WriteFile).
#   4. Drift from the schedule: the worker's start (the capsule's IN_CLOSE_WRITE in the working
#      folder, inotify; the window's thread starts the worker right after) is the origin, and from
#      it the capsule lookup (the working folder opened) at 1 s, the status texts at 3, 5, 7 and
#      11 s (the first DrawText of each in Wine's +text trace, stamped with Wine's tick count and
#      put on the wall clock) and the flash tool at 12 s (CreateProcess opening its file; its own
#      startms beside it). Baseline: how long Wine takes from CreateProcess to a new-console
#      program's main() (bench/spawn_probe.exe starting the stand-in flash tool).
#   5. Peak memory: VmHWM (/proc/PID/status) of the updater over a whole run, against
#      bare_message_box.exe at its question.
#   6. Sizes (objdump -h) of the product, the twin and the bare program.
#
# Each measured figure is the median of BENCH_RUNS (default 7) runs, with min and max; subject
# and baseline runs alternate, and their order swaps from one round to the next; a ratio is the
# median of the rounds' ratios. One round before them warms the caches; its figures are shown
# (the first run in a new prefix) but not counted.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

readonly RUNS=${BENCH_RUNS:-7}
readonly WARMUP_ROUNDS=1
readonly MIN_RUNS=5
readonly OUT_FILE=${BENCH_OUT:-$root/docs/BENCHMARKS.md}
# Another build of the twin to measure instead, e.g. one with a candidate fix.
readonly UPDATER_FILE=${BENCH_UPDATER:-$build_dir/win64/BIOSUpdate.exe}
readonly SCREEN_SIZE=1024x768
readonly SCREEN_DEPTH=24
readonly PROGRAM_DIR_WIN='C:\users\Public\Downloads'
readonly BOX_CLASS='#32770'
readonly UPDATER_EXE=BIOSUpdate.exe UPDATER_CAPTION='BIOS update'
readonly BARE_EXE=bare_message_box.exe BARE_CAPTION='Bare message box'
readonly PROBE_EXE=spawn_probe.exe WRITE_PROBE_EXE=write_probe.exe
readonly FLASH_TOOL_EXE=WinFlash64.exe
readonly IDYES=6 IDNO=7
# A running BIOS the carried capsule (47K31RB4) updates: the whole sequence runs to the flash.
readonly RUNNING_BIOS=47K31RA9
readonly FLASH_DELAY_MS=1000
readonly CAPSULE_NAME=47K31RB4.cap
readonly CAPSULE_FILE=$build_dir/payload/$CAPSULE_NAME
readonly FLASH_ARGUMENTS="/cvar /bbl /sd /file $CAPSULE_NAME /nodelay"
readonly TRACE_CHANNELS=-all,+timestamp,+text
readonly QUESTION_WAIT_MS=30000
# Time for the polling driver to be up before the program it waits for starts.
readonly WAITER_READY_S=1
readonly SAMPLE_S=0.1
readonly MS_PER_S=1000
# utime and stime in /proc/PID/stat, counted from the field after the command's name.
readonly STAT_UTIME=11 STAT_STIME=12
readonly CPU_FROM_COVER_S=2
readonly CPU_WINDOW_S=10
readonly RUN_LIMIT_S=120
readonly POLL_S=0.05
readonly FOLDER_GONE_WAIT_S=10
readonly WATCHER_PRIORITY=10
readonly PROBE_DIR_WIN='C:\bench-probe'

started_s=$SECONDS
((RUNS >= MIN_RUNS)) || { echo "bench: BENCH_RUNS must be at least $MIN_RUNS" >&2; exit 2; }
for tool in xev python3 i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump umockdev-run; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
done

"$root/scripts/build.sh"
source "$root/tests/wine/lib.sh"
export WINTEST_EXE=$build_dir/win64/tools/wintest/wintest.exe
export FIXTURES_BIN=$build_dir/win64/tools/fixtures

work=$(mktemp -d /tmp/biosupdate-bench.XXXXXX)
state=$work/wine
xev_pid=
# Runs to its end whatever fails in it (no errexit there): the prefix and its Xvfb must go.
cleanup() {
  set +e
  [[ -n $xev_pid ]] && kill "$xev_pid" 2>/dev/null
  if [[ -f "$state/env.sh" ]]; then
    (wine_use "$state" && fixtures_uninstall >/dev/null 2>&1)
    wine_prefix_destroy "$state"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
echo "Making a private Wine prefix ($SCREEN_SIZE) in $state ..."
XVFB_SCREEN="${SCREEN_SIZE}x$SCREEN_DEPTH" wine_prefix_create "$state"
source "$root/tests/wine/fixtures.sh"
fixtures_install
readonly PROGRAM_DIR=$WINEPREFIX/drive_c/users/Public/Downloads
readonly WORK_DIR="$WINEPREFIX/drive_c/Program Files/BIOSUPDATE"
readonly WORK_DIR_WIN='C:\Program Files\BIOSUPDATE'
readonly COPY_SOURCE_WIN='C:\users\Public\source.cap'
readonly FLASH_LOG_WIN='C:\fixture-logs\winflash.log'
readonly FLASH_LOG=$FIXTURE_LOG_DIR/winflash.log
readonly PROBE_DIR=$WINEPREFIX/drive_c/bench-probe
mkdir -p "$PROGRAM_DIR" "$PROBE_DIR"
cp "$UPDATER_FILE" "$PROGRAM_DIR/$UPDATER_EXE"
cp "$build_dir/win64/bench/$BARE_EXE" "$build_dir/win64/bench/$PROBE_EXE" "$build_dir/win64/bench/$WRITE_PROBE_EXE" \
  "$PROGRAM_DIR/"
cp "$CAPSULE_FILE" "$WINEPREFIX/drive_c/users/Public/source.cap"
cp "$build_dir/win64/tools/capsule/$FLASH_TOOL_EXE" "$CAPSULE_FILE" "$PROBE_DIR/"

raw=$work/raw.tsv
: >"$raw"
# METRIC ROLE VALUE; the warm-up round's figures are kept too (round 0, the first run in a new
# prefix), but not counted.
record() { printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$round" "$3" >>"$raw"; }

# The X server's window events for the whole bench, each line stamped on arrival.
xev_log=$work/xev.log
(stdbuf -oL xev -root -event substructure 2>/dev/null |
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done) >"$xev_log" &
xev_pid=$!

# The Linux process of the Wine program EXE in this prefix (its argv[0] is EXE as started, or
# its Windows path).
wine_pid() {
  local exe=$1 pid first
  for pid in $(pgrep -f "$exe" 2>/dev/null); do
    first=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | head -n 1)
    [[ $first == "$exe" || $first == *\\"$exe" ]] || continue
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "$pid"
    return 0
  done
  return 1
}
wait_pid() {  # wait_pid EXE: its pid, once it runs
  local deadline=$((SECONDS + RUN_LIMIT_S)) pid
  until pid=$(wine_pid "$1"); do
    ((SECONDS < deadline)) || return 1
    sleep "$POLL_S"
  done
  echo "$pid"
}
# Every SAMPLE_S until PID ends: wall-clock seconds, utime+stime in clock ticks, VmHWM in kB.
sample_process() {
  local pid=$1 stat fields hwm
  while read -r stat 2>/dev/null <"/proc/$pid/stat"; do
    read -r -a fields <<<"${stat##*) }"
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null)
    [[ ${fields[0]} == Z ]] && break
    echo "$EPOCHREALTIME $((fields[STAT_UTIME] + fields[STAT_STIME])) ${hwm:-0}"
    sleep "$SAMPLE_S"
  done
}
start_waiter() {  # start_waiter CAPTION OUT: a driver polling for the question, up and waiting
  wine_driver wait-window "$BOX_CLASS" "$1" "$QUESTION_WAIT_MS" >"$2" 2>&1 &
  waiter=$!
  sleep "$WAITER_READY_S"
}
launch() {  # launch EXE: the program, from its folder, with the stand-ins' settings
  cd "$PROGRAM_DIR" &&
    exec env WINEDEBUG="$TRACE_CHANNELS" WINFLASH_LOG="$FLASH_LOG_WIN" WINFLASH_DELAY_MS="$FLASH_DELAY_MS" \
      "$WINELOADER" "$1" </dev/null 2>"$trace"
}

# The working folder's inotify events. The watcher runs at a real-time priority, so that it reads
# each event the moment it comes even while both cores are busy: its stamps are then the events'
# times, not its own scheduling delays.
watch_folder() {
  local run=(python3 "$root/bench/bench_report.py" watch "$WORK_DIR")
  if chrt -f "$WATCHER_PRIORITY" true 2>/dev/null; then
    exec chrt -f "$WATCHER_PRIORITY" "${run[@]}"
  fi
  exec "${run[@]}"
}
# Makes the working folder and starts watching it into LOG; returns once the watch is in place
# (sets watcher).
start_watcher() {
  local log=$1
  rm -f "$log"
  mkdir -p "$WORK_DIR"
  watch_folder >"$log" &
  watcher=$!
  until [[ -s "$log" ]]; do
    kill -0 "$watcher" 2>/dev/null || { echo "bench: the folder watcher did not start" >&2; return 1; }
    sleep "$POLL_S"
  done
}

# 2: process start to the question. ROLE subject answers No, so the updater ends at once.
question_run() {  # question_run ROLE EXE CAPTION ANSWER
  local role=$1 exe=$2 caption=$3 answer=$4 t0 t1 program
  trace=$work/question.trace
  start_waiter "$caption" "$work/waiter.out"
  t0=$EPOCHREALTIME
  (launch "$exe") &
  program=$!
  if wait "$waiter"; then
    t1=$EPOCHREALTIME
    record question_ms "$role" "$(awk -v a="$t0" -v b="$t1" -v ms="$MS_PER_S" 'BEGIN { printf "%.1f", (b - a) * ms }')"
  else
    echo "bench: $exe showed no question" >&2
  fi
  if [[ $role == baseline ]]; then
    # The bare program idles at its question: its CPU and peak memory over the same window.
    local pid samples=$work/bare.samples
    pid=$(wait_pid "$exe")
    sample_process "$pid" >"$samples" &
    local sampler=$!
    sleep "$CPU_WINDOW_S"
    wine_driver click "$BOX_CLASS" "$caption" "$answer" >/dev/null 2>&1 || true
    wait "$program" || true
    wait "$sampler" || true
    python3 "$root/bench/bench_report.py" idle "$samples" | while read -r metric value; do
      record "$metric" baseline "$value"
    done
  else
    wine_driver click "$BOX_CLASS" "$caption" "$answer" >/dev/null 2>&1 || true
    wait "$program" || true
  fi
}

# 1, 3, 4, 5: a whole update run, flash included.
full_run_program() { launch "$UPDATER_EXE"; }
full_run() {
  local dir=$work/full-$round program pid sampler answered
  mkdir -p "$dir"
  trace=$dir/trace.log
  fixtures_reset
  rm -f "$FLASH_LOG"
  # The watcher needs the folder; the updater takes it as it finds it, and removes it at the end.
  start_watcher "$dir/inotify.log"
  start_waiter "$UPDATER_CAPTION" "$work/waiter.out"
  bios_version_run "$RUNNING_BIOS" full_run_program &
  program=$!
  pid=$(wait_pid "$UPDATER_EXE")
  sample_process "$pid" >"$dir/samples" &
  sampler=$!
  wait "$waiter" || echo "bench: the updater showed no question" >&2
  answered=$EPOCHREALTIME
  wine_driver click "$BOX_CLASS" "$UPDATER_CAPTION" "$IDYES" >/dev/null 2>&1 || true
  wait "$program" || true
  wait "$sampler" || true
  # The updater removes the folder, but Wine removes it only once the last handle to it closes:
  # the console host of the flash tool, whose current folder it was, may end a moment later.
  # Any later run needs it gone first (it would take a new folder of that name with it).
  local deadline=$((SECONDS + FOLDER_GONE_WAIT_S))
  while [[ -d "$WORK_DIR" ]] && ((SECONDS < deadline)); do sleep "$POLL_S"; done
  kill "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
  rm -rf "$WORK_DIR"
  python3 "$root/bench/bench_report.py" full-run "$dir" "$xev_log" "$answered" "$FLASH_LOG" \
    "$SCREEN_SIZE" "$CPU_FROM_COVER_S" "$CPU_WINDOW_S" | while read -r metric value; do
    record "$metric" subject "$value"
  done
}

# 3, baseline: the same file copied into the same folder by Wine's cmd.
copy_run() {
  local log=$work/copy.inotify
  start_watcher "$log"
  wine_exec cmd /c copy /y "$COPY_SOURCE_WIN" "$WORK_DIR_WIN\\$CAPSULE_NAME" >/dev/null
  rm -rf "$WORK_DIR"
  wait "$watcher" 2>/dev/null || true
  record write_ms baseline "$(python3 "$root/bench/bench_report.py" write-ms "$log" "$CAPSULE_NAME")"
}

# 3, for the cause: the updater's own write (its resource, one WriteFile) done alone by a probe.
probe_write_run() {
  local log=$work/probe.inotify
  start_watcher "$log"
  wine_exec "$PROGRAM_DIR_WIN\\$WRITE_PROBE_EXE" "$PROGRAM_DIR_WIN\\$UPDATER_EXE" "$WORK_DIR_WIN\\$CAPSULE_NAME"
  rm -rf "$WORK_DIR"
  wait "$watcher" 2>/dev/null || true
  record write_ms probe "$(python3 "$root/bench/bench_report.py" write-ms "$log" "$CAPSULE_NAME")"
}

# 4, baseline: CreateProcess to main() of the stand-in flash tool, started as the updater does,
# under umockdev as in the updater's runs, whose preload library the tool inherits there.
spawn_probe_program() {
  cd "$PROGRAM_DIR" && WINFLASH_LOG=$FLASH_LOG_WIN wine_exec "$PROBE_EXE" "$PROBE_DIR_WIN\\$FLASH_TOOL_EXE" \
    "$PROBE_DIR_WIN" "$PROBE_DIR_WIN\\$FLASH_TOOL_EXE $FLASH_ARGUMENTS"
}
spawn_run() {
  local out called started
  rm -f "$FLASH_LOG"
  out=$(bios_version_run "$RUNNING_BIOS" spawn_probe_program | tr -d '\r')
  called=$(sed -n 's/^calledms=//p' <<<"$out")
  started=$(sed -n 's/.*|startms=\([0-9]*\).*/\1/p' "$FLASH_LOG")
  if [[ -n $called && -n $started ]]; then record spawn_ms baseline "$((started - called))"; fi
}

for ((round = 1 - WARMUP_ROUNDS; round <= RUNS; round++)); do
  echo "Round $round of $RUNS$( ((round > 0)) || echo ' (warm-up, not counted)') ..."
  if ((round % 2 == 0)); then
    question_run baseline "$BARE_EXE" "$BARE_CAPTION" "$IDYES"
    question_run subject "$UPDATER_EXE" "$UPDATER_CAPTION" "$IDNO"
    copy_run
    full_run
    probe_write_run
  else
    question_run subject "$UPDATER_EXE" "$UPDATER_CAPTION" "$IDNO"
    question_run baseline "$BARE_EXE" "$BARE_CAPTION" "$IDYES"
    probe_write_run
    full_run
    copy_run
  fi
  spawn_run
done

mkdir -p "$(dirname "$OUT_FILE")"
python3 "$root/bench/bench_report.py" write "$raw" "$OUT_FILE" "$RUNS" \
  "$(/usr/lib/wine/wine64 --version 2>/dev/null)" "$((SECONDS - started_s))" \
  "product build/win32/$UPDATER_EXE|i686-w64-mingw32-objdump|$build_dir/win32/$UPDATER_EXE" \
  "twin ${UPDATER_FILE#"$root/"}|x86_64-w64-mingw32-objdump|$UPDATER_FILE" \
  "bare build/win64/bench/$BARE_EXE|x86_64-w64-mingw32-objdump|$build_dir/win64/bench/$BARE_EXE"
echo "Wrote $OUT_FILE in $((SECONDS - started_s)) s"
