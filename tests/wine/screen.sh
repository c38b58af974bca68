#!/usr/bin/env bash
# The progress screen as the user sees it, from screenshots taken during update runs: the
# picture of the system's language where the program puts it, (W-640)/2 and (H-480)/2, with
# black all around (on an odd screen the extra column and row are on the right and below);
# the picture itself unchanged outside the status text's row and the track's inside; the
# track's frame in its exact colours; the progress mark's blues only inside the track and
# there exactly one frame of its animation; and the white status text only in its row (310..334,
# or 300..324 on a Korean system).
#
# Screens of 1023x767 (odd in both directions) and 640x480 (the picture fills it), English on
# both and Korean once on the first. A prefix's screen size is fixed when it is made: the given
# prefix serves the size it has, and a prefix is made for each other size and removed at the
# end. The prefixes work side by side; screen_capture.sh drives the runs in each, and
# screen_check.py measures each screenshot. With SCREENSHOT_DIR set, the first screenshot of
# each run is kept there.
source "$(dirname "$0")/common.sh"

readonly SCREENS=(1023x767 640x480)
readonly KOREAN_ON=1023x767
readonly SCREEN_DEPTH=24
readonly SHOTS=3
readonly PICTURE_WIDTH=640 PICTURE_HEIGHT=480
readonly ART_DIR="$here/../../res/art"
readonly KOREAN_LOCALE=ko_KR.UTF-8
readonly KOREAN_PICTURE="$ART_DIR/background134.bmp" ENGLISH_PICTURE="$ART_DIR/background135.bmp"
readonly KOREAN_STATUS_TOP=300 ENGLISH_STATUS_TOP=310 STATUS_ROW_HEIGHT=25

started_s=$(date +%s)
work=$(mktemp -d)
made_states=()
jobs_started=()
cleanup() {
  local made
  for made in "${made_states[@]}"; do wine_prefix_destroy "$made"; done
  rm -rf "$work"
}
trap cleanup EXIT

# The given prefix's screen, as Windows programs in it see it.
given_screen=$(wine_driver screenshot "$(wine_win_path "$work/given.bmp")" | tr -d '\r' | cut -d' ' -f1)
echo "the given prefix's screen is $given_screen"

# One job per screen size: make a prefix when the given one does not fit, then the runs.
for screen in "${SCREENS[@]}"; do
  locales=(default)
  [[ $screen == "$KOREAN_ON" ]] && locales+=("$KOREAN_LOCALE")
  mkdir -p "$work/$screen"
  if [[ $screen == "$given_screen" ]]; then
    run_state=$state
    make=false
  else
    run_state="$work/prefix-$screen"
    made_states+=("$run_state")
    make=true
  fi
  (
    if $make; then
      XVFB_SCREEN="${screen}x$SCREEN_DEPTH" wine_prefix_create "$run_state" ||
        { echo "cannot make a prefix with a ${screen} screen"; exit 1; }
    fi
    bash "$here/screen_capture.sh" "$run_state" "$updater_exe" "$WINTEST_EXE" "$work/$screen" "$SHOTS" "${locales[@]}"
  ) >"$work/$screen/log" 2>&1 &
  jobs_started+=($!)
done
for job in "${jobs_started[@]}"; do wait "$job"; done

fact() { sed -n "s/^$1=//p" "$2" 2>/dev/null; }
measure() { sed -n "s/^$1=//p" <<<"$2"; }

for screen in "${SCREENS[@]}"; do
  width=${screen%x*}
  height=${screen#*x}
  origin="$(((width - PICTURE_WIDTH) / 2)),$(((height - PICTURE_HEIGHT) / 2))"
  locales=(default)
  [[ $screen == "$KOREAN_ON" ]] && locales+=("$KOREAN_LOCALE")
  for locale in "${locales[@]}"; do
    dir="$work/$screen/$locale"
    label="$screen $locale"
    if [[ $locale == default ]]; then
      picture=$ENGLISH_PICTURE status_top=$ENGLISH_STATUS_TOP
    else
      picture=$KOREAN_PICTURE status_top=$KOREAN_STATUS_TOP
    fi
    if [[ ! -f "$dir/facts" ]]; then
      expect "$label: the runs took place" yes "no (log: $(tail -n 5 "$work/$screen/log" | tr '\n' ' '))"
      continue
    fi
    expect "$label: the question is shown" shown "$(fact question "$dir/facts")"
    expect "$label: the window covers the screen" "0,0,$width,$height" "$(fact window "$dir/facts")"
    expect "$label: screenshots taken" "$SHOTS" "$(fact shots "$dir/facts")"
    expect "$label: exits 0" 0 "$(fact exit "$dir/facts")"
    mark_seen=no
    for ((shot = 1; shot <= SHOTS; shot++)); do
      file="$dir/shot-$shot.bmp"
      [[ -f $file ]] || continue
      m=$(python3 "$here/screen_check.py" "$file" "$picture" "$status_top")
      name="$label shot $shot"
      echo "$name: mark frame $(measure mark_frames "$m"), $(measure white_in_status_row "$m") white text pixels"
      expect "$name: screen size" "$screen" "$(measure size "$m")"
      expect "$name: picture at (W-640)/2,(H-480)/2" "$origin" "$(measure found "$m")"
      expect "$name: black around the picture (pixels that are not)" 0 "$(measure outside_not_black "$m")"
      expect "$name: picture unchanged outside the status row and the track (pixels that differ)" 0 \
        "$(measure picture_differs "$m")"
      expect "$name: track frame outer line (188,188,188) (pixels that are not)" 0 "$(measure frame_outer_wrong "$m")"
      expect "$name: track frame inner line (70,70,70) (pixels that are not)" 0 "$(measure frame_inner_wrong "$m")"
      expect "$name: mark's blues outside the track's inside" 0 "$(measure blue_outside_track "$m")"
      expect "$name: track's inside is one frame of the mark" yes \
        "$([[ $(measure mark_frames "$m") != none ]] && echo yes || echo "no")"
      expect "$name: white pixels outside the status row $status_top..$((status_top + STATUS_ROW_HEIGHT - 1))" 0 \
        "$(measure white_outside_status_row "$m")"
      expect "$name: status text drawn in its row" yes \
        "$( (($(measure white_in_status_row "$m") > 0)) && echo yes || echo "no white pixels")"
      [[ $(measure mark_visible "$m") == yes ]] && mark_seen=yes
      if [[ -n ${SCREENSHOT_DIR:-} && $shot == 1 ]]; then
        mkdir -p "$SCREENSHOT_DIR" && cp "$file" "$SCREENSHOT_DIR/screen-$screen-$locale.bmp"
      fi
    done
    # The mark is absent in 2 frames of 32; in none of three screenshots means it is not drawn.
    expect "$label: the mark shows in a screenshot" yes "$mark_seen"
  done
done

echo "screen checks took $(($(date +%s) - started_s)) s"
finish
