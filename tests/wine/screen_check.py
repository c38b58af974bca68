#!/usr/bin/env python3
"""Measures one screenshot of the updater's progress screen against the picture it shows.

Usage: screen_check.py SCREENSHOT.bmp PICTURE.bmp STATUS_TOP

SCREENSHOT is what wintest's `screenshot` wrote (24 bits, bottom-up); PICTURE the background
the program paints (640x480, 24 bits); STATUS_TOP the first row, in picture pixels, of the
status text's row (300 on a Korean system, 310 otherwise).

Prints one `name=value` line per measurement, for screen.sh to hold against what it expects:
  size                      WxH of the screen
  origin                    where the picture is expected: ((W-640)/2, (H-480)/2)
  found                     where the track's frame says the picture is, or "none"
  outside_not_black         pixels around the picture that are not black
  picture_differs           pixels of the picture area, outside the status text's row and the
                            track's inside, that differ from the picture
  frame_outer_wrong         pixels on the frame's straight outer edges that are not (188,188,188)
  frame_inner_wrong         the same for its inner line and (70,70,70)
  blue_outside_track        pixels of the mark's three blues outside the track's inside
  white_outside_status_row  white (255,255,255) pixels outside the status text's row
  white_in_status_row       white pixels inside it
  mark_frames               the animation counters whose frame matches the track's inside
                            exactly ("0 31" when it shows no mark), or "none"
  mark_visible              yes when the track's inside shows a part of the mark
"""
import struct
import sys

PICTURE_WIDTH = 640
PICTURE_HEIGHT = 480
BYTES_PER_PIXEL = 3
BMP_FILE_HEADER = 14
BMP_INFO_WIDTH = 18
BMP_BITS_PER_PIXEL = 28
BMP_PIXEL_OFFSET = 10
ROW_ALIGNMENT = 4
EXPECTED_BITS_PER_PIXEL = 24

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
TRACK_OUTER = (188, 188, 188)
TRACK_INNER = (70, 70, 70)

# The track in picture pixels: the frame's outer edge, and the inside the mark slides in.
TRACK_LEFT, TRACK_TOP, TRACK_RIGHT, TRACK_BOTTOM = 255, 351, 380, 365
TRACK_CORNER = 3  # the straight part of each edge starts this far from a corner
INSIDE_LEFT, INSIDE_TOP, INSIDE_RIGHT, INSIDE_BOTTOM = 257, 354, 378, 362
STATUS_ROW_HEIGHT = 25

# The progress mark: 22x9, three blocks of 6 columns, 8 apart; each row's shades.
MARK_WIDTH = 22
MARK_HEIGHT = 9
MARK_ROW = 354
MARK_BLOCK_WIDTH = 6
MARK_BLOCK_PITCH = 8
DARK, MIDDLE, LIGHT = (45, 62, 210), (94, 127, 252), (141, 166, 255)
MARK_BLUES = {DARK, MIDDLE, LIGHT}
MARK_BANDS = ["DDD", "MMM", "LLL", "LLL", "MML", "DMM", "DDM", "DDD", "DDD"]
SHADES = {"D": DARK, "M": MIDDLE, "L": LIGHT}

# The animation: 32 frames; the mark enters at x 255 and moves 4 pixels a frame, is placed at
# 379 once past the track, and shrinks from its right as the counter nears the end.
ANIMATION_FRAMES = 32
MARK_TRACK_START = 255
MARK_TRACK_END = 379
MARK_STEP = 4


class Bmp:
    """A 24-bit BMP, read top-down."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"BM":
            raise SystemExit(f"{path}: not a BMP file")
        self.width, height = struct.unpack_from("<ii", self.data, BMP_INFO_WIDTH)
        (bpp,) = struct.unpack_from("<H", self.data, BMP_BITS_PER_PIXEL)
        if bpp != EXPECTED_BITS_PER_PIXEL:
            raise SystemExit(f"{path}: {bpp} bits per pixel, not {EXPECTED_BITS_PER_PIXEL}")
        self.bottom_up = height > 0
        self.height = abs(height)
        (self.bits,) = struct.unpack_from("<I", self.data, BMP_PIXEL_OFFSET)
        row = self.width * BYTES_PER_PIXEL
        self.stride = (row + ROW_ALIGNMENT - 1) // ROW_ALIGNMENT * ROW_ALIGNMENT

    def row(self, y, x0=0, x1=None):
        """Bytes (blue, green, red per pixel) of row y, pixels x0 up to x1 (exclusive)."""
        x1 = self.width if x1 is None else x1
        stored = self.height - 1 - y if self.bottom_up else y
        start = self.bits + stored * self.stride
        return self.data[start + x0 * BYTES_PER_PIXEL:start + x1 * BYTES_PER_PIXEL]

    def at(self, x, y):
        b, g, r = self.row(y, x, x + 1)
        return (r, g, b)


def mark_geometry(counter):
    """(destination x, width, first mark column) of the mark for an animation counter."""
    advance = MARK_STEP * counter
    if counter <= 0:
        return MARK_TRACK_START, 0, 0
    if advance >= MARK_TRACK_END - MARK_TRACK_START:
        destination = MARK_TRACK_END
    else:
        destination = MARK_TRACK_START + advance
    if advance <= MARK_WIDTH:
        return destination, advance, MARK_WIDTH - advance
    return destination, min(MARK_STEP * (ANIMATION_FRAMES - 1 - counter), MARK_WIDTH), 0


def mark_pixel(column, row):
    if column % MARK_BLOCK_PITCH >= MARK_BLOCK_WIDTH:
        return BLACK
    return SHADES[MARK_BANDS[row][column // MARK_BLOCK_PITCH]]


def expected_inside(counter):
    """The track's inside for one frame, keyed by picture (x, y); black where not listed."""
    destination, width, source = mark_geometry(counter)
    pixels = {}
    for row in range(MARK_HEIGHT):
        for i in range(width):
            pixels[(destination + i, MARK_ROW + row)] = mark_pixel(source + i, row)
    return pixels


def count_not_black(screen, x0, x1, y0, y1):
    count = 0
    for y in range(y0, y1):
        row = screen.row(y, x0, x1)
        if row.count(0) == len(row):
            continue
        for i in range(0, len(row), BYTES_PER_PIXEL):
            count += row[i:i + BYTES_PER_PIXEL] != b"\0\0\0"
    return count


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    screen = Bmp(sys.argv[1])
    picture = Bmp(sys.argv[2])
    status_top = int(sys.argv[3])
    if (picture.width, picture.height) != (PICTURE_WIDTH, PICTURE_HEIGHT):
        raise SystemExit(f"{sys.argv[2]} is {picture.width}x{picture.height}")
    width, height = screen.width, screen.height
    ox, oy = (width - PICTURE_WIDTH) // 2, (height - PICTURE_HEIGHT) // 2
    print(f"size={width}x{height}")
    print(f"origin={ox},{oy}")

    # Where the picture really is: the first run of outer grey as long as the frame's
    # straight top edge, on the screen and in the picture.
    straight = TRACK_RIGHT - TRACK_LEFT + 1 - 2 * TRACK_CORNER
    needle = bytes(reversed(TRACK_OUTER)) * straight

    def first_run(image):
        for y in range(image.height):
            at = image.row(y).find(needle)
            if at >= 0 and at % BYTES_PER_PIXEL == 0:
                return at // BYTES_PER_PIXEL, y
        return None

    on_screen, in_picture = first_run(screen), first_run(picture)
    found = "none"
    if on_screen and in_picture:
        found = f"{on_screen[0] - in_picture[0]},{on_screen[1] - in_picture[1]}"
    print(f"found={found}")

    outside = (count_not_black(screen, 0, width, 0, oy)
               + count_not_black(screen, 0, width, oy + PICTURE_HEIGHT, height)
               + count_not_black(screen, 0, ox, oy, oy + PICTURE_HEIGHT)
               + count_not_black(screen, ox + PICTURE_WIDTH, width, oy, oy + PICTURE_HEIGHT))
    print(f"outside_not_black={outside}")

    def in_status_row(x, y):
        return status_top <= y < status_top + STATUS_ROW_HEIGHT

    def in_inside(x, y):
        return INSIDE_LEFT <= x <= INSIDE_RIGHT and INSIDE_TOP <= y <= INSIDE_BOTTOM

    differs = blue_outside = white_outside = white_inside = 0
    for y in range(PICTURE_HEIGHT):
        shown = screen.row(oy + y, ox, ox + PICTURE_WIDTH)
        if shown == picture.row(y):
            continue
        for x in range(PICTURE_WIDTH):
            colour = screen.at(ox + x, oy + y)
            if colour == picture.at(x, y):
                continue
            if colour in MARK_BLUES and not in_inside(x, y):
                blue_outside += 1
            if colour == WHITE:
                if in_status_row(x, y):
                    white_inside += 1
                else:
                    white_outside += 1
            if not in_status_row(x, y) and not in_inside(x, y):
                differs += 1
    # Around the picture everything is black, so a blue or white pixel there is counted by
    # outside_not_black already; these two are about the picture area.
    print(f"picture_differs={differs}")

    def wrong_on(points, colour):
        return sum(screen.at(ox + x, oy + y) != colour for x, y in points)

    def edges(depth):
        top = [(x, TRACK_TOP + depth) for x in range(TRACK_LEFT + TRACK_CORNER, TRACK_RIGHT - TRACK_CORNER + 1)]
        bottom = [(x, TRACK_BOTTOM - depth) for x, _ in top]
        left = [(TRACK_LEFT + depth, y) for y in range(TRACK_TOP + TRACK_CORNER, TRACK_BOTTOM - TRACK_CORNER + 1)]
        right = [(TRACK_RIGHT - depth, y) for _, y in left]
        return top + bottom + left + right

    print(f"frame_outer_wrong={wrong_on(edges(0), TRACK_OUTER)}")
    print(f"frame_inner_wrong={wrong_on(edges(1), TRACK_INNER)}")
    print(f"blue_outside_track={blue_outside}")
    print(f"white_outside_status_row={white_outside}")
    print(f"white_in_status_row={white_inside}")

    inside = {(x, y): screen.at(ox + x, oy + y)
              for y in range(INSIDE_TOP, INSIDE_BOTTOM + 1)
              for x in range(INSIDE_LEFT, INSIDE_RIGHT + 1)}
    matches = []
    for counter in range(ANIMATION_FRAMES):
        expected = expected_inside(counter)
        if all(colour == expected.get(point, BLACK) for point, colour in inside.items()):
            matches.append(counter)
    print(f"mark_frames={' '.join(map(str, matches)) if matches else 'none'}")
    visible = any(colour in MARK_BLUES for colour in inside.values())
    print(f"mark_visible={'yes' if visible else 'no'}")


if __name__ == "__main__":
    main()
