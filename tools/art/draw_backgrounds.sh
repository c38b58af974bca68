#!/usr/bin/env bash
# Draws the two full-screen backgrounds of the progress screen, background134.bmp (Korean)
# and background135.bmp (English), into OUTDIR (default: res/art of this source tree).
#
# The finished pictures are committed, so a build needs neither this script nor ImageMagick;
# run it again only when the artwork changes, look at the result, and commit both files.
# Needs ImageMagick 6 (`convert`) and the Nanum fonts (Debian: imagemagick, fonts-nanum).
#
# Everything is black except:
#   the Norvik logo and slogan        x 140..497, y 105..277
#   the progress track's frame         outer edge x 255..380, y 351..365, rounded corners;
#                                      outer ring (188,188,188), inner ring (70,70,70), and
#                                      the rest of the inside black, for the mark to slide in
#   the notice line                   y 411..425 (Korean x 19..619, English x 11..626)
#   the framed warning                y 438..476 (Korean x 96..552, English x 208..440)
# Rows 278..350 stay black across the whole width: the program writes its status text there.
# Each element is drawn on a canvas the size of its area and then put in place, so nothing
# can spill outside it. No pixel is pure white or one of the progress mark's blues: the
# screen checks tell the program's own drawing apart by those colours.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out_dir=${1:-$here/../../res/art}
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)

readonly FONT_DIR=/usr/share/fonts/truetype/nanum
readonly TEXT_FONT=$FONT_DIR/NanumBarunGothic.ttf
readonly TEXT_BOLD_FONT=$FONT_DIR/NanumBarunGothicBold.ttf
readonly WORDMARK_FONT=$FONT_DIR/NanumSquareB.ttf
for font in "$TEXT_FONT" "$TEXT_BOLD_FONT" "$WORDMARK_FONT"; do
  [[ -f $font ]] || { echo "draw_backgrounds: no $font (Debian package fonts-nanum)" >&2; exit 1; }
done
command -v convert >/dev/null || { echo "draw_backgrounds: no convert (Debian package imagemagick)" >&2; exit 1; }

readonly PICTURE_WIDTH=640 PICTURE_HEIGHT=480

# ---- Colours ------------------------------------------------------------------------------
readonly BLACK='rgb(0,0,0)'
readonly TRACK_OUTER='rgb(188,188,188)'
readonly TRACK_INNER='rgb(70,70,70)'
readonly STAR_LIGHT='rgb(96,214,196)'
readonly STAR_DARK='rgb(0,122,128)'
readonly WORDMARK_COLOUR='rgb(228,228,228)'
readonly RULE_COLOUR='rgb(0,150,150)'
readonly SLOGAN_COLOUR='rgb(150,150,150)'
readonly NOTICE_COLOUR='rgb(205,205,205)'
readonly WARNING_FRAME='rgb(176,140,36)'
readonly WARNING_FILL='rgb(28,22,6)'
readonly WARNING_YELLOW='rgb(255,204,0)'
readonly WARNING_TEXT='rgb(240,232,208)'

# ---- The logo -------------------------------------------------------------------------------
readonly LOGO_LEFT=140 LOGO_TOP=105 LOGO_RIGHT=497 LOGO_BOTTOM=277
# A compass star (north ray longest) over the name, a short rule, and the slogan; every
# position is within the logo's own canvas.
readonly STAR_CENTRE_Y=48
readonly STAR_NORTH=44 STAR_SOUTH=28 STAR_SIDE=31 STAR_WAIST=8
readonly STAR_DIAGONAL=14  # the four short rays between the main ones
readonly WORDMARK_TEXT=NORVIK
readonly WORDMARK_SIZE=46 WORDMARK_KERNING=12 WORDMARK_TOP=98
readonly RULE_TOP=141 RULE_HALF_WIDTH=34 RULE_HEIGHT=2
readonly SLOGAN_TEXT='BUILT FOR THE LONG RUN'
readonly SLOGAN_SIZE=12 SLOGAN_KERNING=3 SLOGAN_TOP=152

# ---- The progress track --------------------------------------------------------------------
readonly TRACK_LEFT=255 TRACK_RIGHT=380 TRACK_TOP=351 TRACK_BOTTOM=365 TRACK_CORNER_RADIUS=3

# ---- The notice line and the warning --------------------------------------------------------
readonly NOTICE_TOP=411 NOTICE_BOTTOM=425 NOTICE_SIZE=13
readonly WARNING_TOP=438 WARNING_BOTTOM=476 WARNING_SIZE=14 WARNING_CORNER_RADIUS=6 WARNING_FRAME_WIDTH=1
readonly TRIANGLE_WIDTH=26 TRIANGLE_HEIGHT=23 TRIANGLE_GAP=10
readonly TRIANGLE_STROKE=3  # rounds the triangle's corners
readonly EXCLAMATION_SIZE=17 EXCLAMATION_LIFT=3  # its foot stands this far above the base

readonly KOREAN_NOTICE='BIOS 업데이트 작업은 약 3분 정도 소요되며, 업데이트가 완료되면 자동으로 윈도우 시작 화면이 나타납니다.'
readonly KOREAN_WARNING='BIOS 업데이트 작업이 진행 중일 때에는 절대로 전원을 끄지 마십시오.'
readonly ENGLISH_NOTICE='It takes about 3 minutes for updating BIOS. Windows  Start screen will appear after the update.'
readonly ENGLISH_WARNING='Do not turn off the power.'
readonly KOREAN_NOTICE_LEFT=19 KOREAN_NOTICE_RIGHT=619 KOREAN_WARNING_LEFT=96 KOREAN_WARNING_RIGHT=552
readonly ENGLISH_NOTICE_LEFT=11 ENGLISH_NOTICE_RIGHT=626 ENGLISH_WARNING_LEFT=208 ENGLISH_WARNING_RIGHT=440

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "draw_backgrounds: $*" >&2; exit 1; }
size_of() { convert "$1" -format '%w %h\n' info:; }

# text OUT FONT POINTS KERNING COLOUR TEXT [BACKGROUND]: the text's ink only, on BACKGROUND
# (default black).
text() {
  # label: reads a leading '@' as a file name and '%' as an escape; the texts have neither.
  convert -background "${7:-$BLACK}" -fill "$5" -font "$2" -pointsize "$3" -kerning "$4" \
    "label:$6" -trim +repage "$1"
}

# centre_in OUT IN WIDTH HEIGHT: IN centred on a black canvas of that size; IN must fit.
centre_in() {
  local w h
  read -r w h < <(size_of "$2")
  ((w <= $3 && h <= $4)) || fail "$2 is ${w}x${h}, more than its area ${3}x${4}"
  convert "$2" -background black -gravity center -extent "${3}x${4}" +repage "$1"
}

# The compass star's rays as MVG: each ray is two triangles, tip-centre-waist, the one
# counter-clockwise of the ray light and the other dark, as if lit from one side.
star_mvg() {
  awk -v cx="$1" -v cy="$STAR_CENTRE_Y" -v n="$STAR_NORTH" -v s="$STAR_SOUTH" -v side="$STAR_SIDE" \
    -v diag="$STAR_DIAGONAL" -v waist="$STAR_WAIST" -v light="$STAR_LIGHT" -v dark="$STAR_DARK" '
    function ray(angle, reach, half_waist,   tx, ty, ax, ay, bx, by) {
      tx = cx + reach * cos(angle); ty = cy + reach * sin(angle)
      ax = cx + half_waist * cos(angle - quarter / 2); ay = cy + half_waist * sin(angle - quarter / 2)
      bx = cx + half_waist * cos(angle + quarter / 2); by = cy + half_waist * sin(angle + quarter / 2)
      printf "fill %s polygon %.2f,%.2f %.2f,%.2f %.2f,%.2f\n", light, tx, ty, cx, cy, ax, ay
      printf "fill %s polygon %.2f,%.2f %.2f,%.2f %.2f,%.2f\n", dark, tx, ty, cx, cy, bx, by
    }
    BEGIN {
      pi = atan2(0, -1); quarter = pi / 2
      # The short diagonal rays first, so the main rays cover their roots.
      for (i = 0; i < 4; i++) ray(quarter / 2 + i * quarter, diag, waist / 2)
      ray(-quarter, n, waist); ray(0, side, waist); ray(quarter, s, waist); ray(2 * quarter, side, waist)
    }'
}

make_logo() {
  local width=$((LOGO_RIGHT - LOGO_LEFT + 1)) height=$((LOGO_BOTTOM - LOGO_TOP + 1))
  local centre_x=$((width / 2)) w h
  text "$work/wordmark.png" "$WORDMARK_FONT" "$WORDMARK_SIZE" "$WORDMARK_KERNING" \
    "$WORDMARK_COLOUR" "$WORDMARK_TEXT"
  text "$work/slogan.png" "$TEXT_FONT" "$SLOGAN_SIZE" "$SLOGAN_KERNING" "$SLOGAN_COLOUR" "$SLOGAN_TEXT"
  read -r w h < <(size_of "$work/wordmark.png")
  local wordmark_x=$(((width - w) / 2))
  ((h + WORDMARK_TOP < RULE_TOP)) || fail "the name runs into the rule"
  read -r w h < <(size_of "$work/slogan.png")
  local slogan_x=$(((width - w) / 2))
  ((SLOGAN_TOP + h <= height)) || fail "the slogan runs out of the logo area"
  convert -size "${width}x${height}" xc:black \
    -draw "$(star_mvg "$centre_x")" \
    -fill "$RULE_COLOUR" -draw "rectangle $((centre_x - RULE_HALF_WIDTH)),$RULE_TOP $((centre_x + RULE_HALF_WIDTH - 1)),$((RULE_TOP + RULE_HEIGHT - 1))" \
    "$work/wordmark.png" -geometry "+${wordmark_x}+${WORDMARK_TOP}" -composite \
    "$work/slogan.png" -geometry "+${slogan_x}+${SLOGAN_TOP}" -composite \
    "$work/logo.png"
}

# The track's two rings, pixel by pixel: how deep a pixel lies inside the rounded outline
# (0 on the outer ring, 1 on the inner) with the corners following a circle.
track_mvg() {
  awk -v l="$TRACK_LEFT" -v r="$TRACK_RIGHT" -v t="$TRACK_TOP" -v b="$TRACK_BOTTOM" \
    -v radius="$TRACK_CORNER_RADIUS" -v outer="$TRACK_OUTER" -v inner="$TRACK_INNER" '
    function max3(p, q, s) { return p > q ? (p > s ? p : s) : (q > s ? q : s) }
    function min4(p, q, s, u) { m = p; if (q < m) m = q; if (s < m) m = s; if (u < m) m = u; return m }
    function depth(x, y,   dx, dy) {
      dx = max3(l + radius - x, x - (r - radius), 0)
      dy = max3(t + radius - y, y - (b - radius), 0)
      if (dx > 0 && dy > 0) return radius - int(sqrt(dx * dx + dy * dy) + 0.5)
      return min4(x - l, r - x, y - t, b - y)
    }
    BEGIN {
      for (ring = 0; ring <= 1; ring++) {
        printf "fill %s\n", ring == 0 ? outer : inner
        for (y = t; y <= b; y++) for (x = l; x <= r; x++) if (depth(x, y) == ring) printf "point %d,%d\n", x, y
      }
    }'
}

# warning OUT LEFT RIGHT TEXT: the framed warning, the size of its area.
make_warning() {
  local out=$1 width=$(($3 - $2 + 1)) height=$((WARNING_BOTTOM - WARNING_TOP + 1)) w h
  text "$work/warning_text.png" "$TEXT_BOLD_FONT" "$WARNING_SIZE" 0 "$WARNING_TEXT" "$4" "$WARNING_FILL"
  read -r w h < <(size_of "$work/warning_text.png")
  local group=$((TRIANGLE_WIDTH + TRIANGLE_GAP + w))
  ((group < width - 2 * WARNING_CORNER_RADIUS)) || fail "the warning \"$4\" does not fit its frame"
  local tri_x=$(((width - group) / 2)) tri_y=$(((height - TRIANGLE_HEIGHT) / 2))
  local text_x=$((tri_x + TRIANGLE_WIDTH + TRIANGLE_GAP)) text_y=$(((height - h) / 2))
  local half_stroke
  half_stroke=$(awk -v s="$TRIANGLE_STROKE" 'BEGIN { print s / 2 }')
  # The triangle is drawn with a round-joined stroke of its own colour, inset by half the
  # stroke, so its corners come out rounded and its size stays as given.
  local apex_x base_y left_x right_x top_y
  apex_x=$(awk -v x="$tri_x" -v w="$TRIANGLE_WIDTH" 'BEGIN { print x + w / 2 }')
  left_x=$(awk -v x="$tri_x" -v s="$half_stroke" 'BEGIN { print x + s }')
  right_x=$(awk -v x="$tri_x" -v w="$TRIANGLE_WIDTH" -v s="$half_stroke" 'BEGIN { print x + w - s }')
  top_y=$(awk -v y="$tri_y" -v s="$half_stroke" 'BEGIN { print y + s }')
  base_y=$(awk -v y="$tri_y" -v h="$TRIANGLE_HEIGHT" -v s="$half_stroke" 'BEGIN { print y + h - s }')
  convert -size "${width}x${height}" xc:black \
    -fill "$WARNING_FILL" -stroke "$WARNING_FRAME" -strokewidth "$WARNING_FRAME_WIDTH" \
    -draw "roundrectangle 0.5,0.5 $((width - 1)).5,$((height - 1)).5 $WARNING_CORNER_RADIUS,$WARNING_CORNER_RADIUS" \
    -fill "$WARNING_YELLOW" -stroke "$WARNING_YELLOW" -strokewidth "$TRIANGLE_STROKE" -draw "stroke-linejoin round polygon $apex_x,$top_y $right_x,$base_y $left_x,$base_y" \
    -stroke none \
    "$work/warning_text.png" -geometry "+${text_x}+${text_y}" -composite \
    "$work/warning_frame.png"
  # The exclamation mark, centred on the triangle's lower part.
  text "$work/exclamation.png" "$TEXT_BOLD_FONT" "$EXCLAMATION_SIZE" 0 "$BLACK" '!' "$WARNING_YELLOW"
  read -r w h < <(size_of "$work/exclamation.png")
  convert "$work/warning_frame.png" "$work/exclamation.png" \
    -geometry "+$((tri_x + (TRIANGLE_WIDTH - w + 1) / 2))+$((tri_y + TRIANGLE_HEIGHT - h - EXCLAMATION_LIFT))" -composite "$out"
}

# picture OUT NOTICE NOTICE_LEFT NOTICE_RIGHT WARNING WARNING_LEFT WARNING_RIGHT
make_picture() {
  local out=$1 notice_width=$(($4 - $3 + 1)) notice_height=$((NOTICE_BOTTOM - NOTICE_TOP + 1))
  text "$work/notice_text.png" "$TEXT_FONT" "$NOTICE_SIZE" 0 "$NOTICE_COLOUR" "$2"
  centre_in "$work/notice.png" "$work/notice_text.png" "$notice_width" "$notice_height"
  make_warning "$work/warning.png" "$6" "$7" "$5"
  convert -size "${PICTURE_WIDTH}x${PICTURE_HEIGHT}" xc:black \
    "$work/logo.png" -geometry "+${LOGO_LEFT}+${LOGO_TOP}" -composite \
    "$work/notice.png" -geometry "+${3}+${NOTICE_TOP}" -composite \
    "$work/warning.png" -geometry "+${6}+${WARNING_TOP}" -composite \
    -draw "$(track_mvg)" \
    -type TrueColor -compress None "BMP3:$out"
}

make_logo
make_picture "$out_dir/background134.bmp" "$KOREAN_NOTICE" "$KOREAN_NOTICE_LEFT" "$KOREAN_NOTICE_RIGHT" \
  "$KOREAN_WARNING" "$KOREAN_WARNING_LEFT" "$KOREAN_WARNING_RIGHT"
make_picture "$out_dir/background135.bmp" "$ENGLISH_NOTICE" "$ENGLISH_NOTICE_LEFT" "$ENGLISH_NOTICE_RIGHT" \
  "$ENGLISH_WARNING" "$ENGLISH_WARNING_LEFT" "$ENGLISH_WARNING_RIGHT"
echo "wrote $out_dir/background134.bmp and $out_dir/background135.bmp"
