#!/usr/bin/env bash
# Part of screen.sh: screenshots of the progress screen during update runs in one prefix.
# Run in a bash of its own for each prefix, since common.sh and fixtures.sh fix their paths to
# the prefix they are sourced with.
#
# Usage: screen_capture.sh STATE_DIR TWIN_EXE WINTEST_EXE OUT_DIR SHOTS LOCALE...
#
# For each LOCALE ("default" or e.g. ko_KR.UTF-8), in turn: the prefix's wineserver restarts
# in it, the updater runs with Wine's own BIOS answer ("Wine": refused as the wrong model after
# about 13 s full-screen), Yes is answered, and once the window covers the screen SHOTS
# screenshots are taken into OUT_DIR/LOCALE/shot-N.bmp. OUT_DIR/LOCALE/facts gets
# question=shown|missing, window=LEFT,TOP,RIGHT,BOTTOM (or missing), shots=N and exit=CODE.
# The prefix ends in the default locale with the fixtures removed.
source "$(dirname "$0")/common.sh"
source "$here/fixtures.sh"

out_dir=$4
shots=$5
shift 5
locales=("$@")

readonly WINDOW_CLASS='#32770'
readonly ENGLISH_TITLE='BIOS Update Program'
readonly KOREAN_TITLE='BIOS 업데이트 프로그램'
# From the window covering the screen to the first status text and a running animation:
# 500 ms before the text, 500 ms to the first animation tick, and some slack.
readonly SETTLE_S=1.5
readonly SHOT_GAP_S=0.5

capture_run() {
  local locale=$1 dir="$out_dir/$1" report title=$ENGLISH_TITLE window taken=0 i
  mkdir -p "$dir"
  report="$dir/report"
  [[ $locale == default ]] || title=$KOREAN_TITLE
  wine_locale "$locale" || return 1
  fixtures_reset
  start_program "$report"
  {
    if wait_question; then
      echo question=shown
      answer_question "$IDYES"
      if window=$(wait_covered "$title"); then
        window=${window#* }
        echo "window=$window"
        sleep "$SETTLE_S"
        for ((i = 1; i <= shots; i++)); do
          wine_driver screenshot "$(wine_win_path "$dir/shot-$i.bmp")" >/dev/null && taken=$((taken + 1))
          sleep "$SHOT_GAP_S"
        done
      else
        echo window=missing
      fi
    else
      echo question=missing
    fi
    echo "shots=$taken"
    wait_program
    echo "exit=$(report_field exit "$(cat "$report")")"
  } >"$dir/facts"
}

trap 'fixtures_uninstall; wine_locale default' EXIT
fixtures_install || { echo "screen_capture: fixtures_install failed in $state" >&2; exit 1; }
for locale in "${locales[@]}"; do capture_run "$locale"; done
