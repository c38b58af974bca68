// The pictures are read back through a small decoder of their own: for the mark and the icon
// drawn in code, a slip in the encoder (row order, nibble order, palette byte order, padding)
// shows as a wrong pixel rather than agreeing with itself; the two backgrounds are read from
// the files the resource script embeds and held to the layout the program paints over.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "art.h"

namespace art {
// Colours in failure messages as (r,g,b) rather than as raw bytes.
void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << int{c.r} << "," << int{c.g} << "," << int{c.b} << ")";
}
}  // namespace art

namespace {

using Bytes = std::vector<std::uint8_t>;
using art::Rgb;

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
         static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
std::uint16_t U16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

// A BITMAPINFOHEADER DIB starting at `dib`, pixels at `bits`; reads pixels top-down.
struct Dib {
  const Bytes& bytes;
  std::size_t dib;
  std::size_t bits;

  int Width() const { return static_cast<int>(U32(bytes, dib + 4)); }
  int HeightField() const { return static_cast<int>(U32(bytes, dib + 8)); }
  int Bpp() const { return U16(bytes, dib + 14); }
  std::size_t Stride() const { return (static_cast<std::size_t>(Width()) * Bpp() + 31) / 32 * 4; }
  std::size_t RowStart(int y, int height) const {
    return bits + Stride() * static_cast<std::size_t>(height - 1 - y);  // stored bottom-up
  }
  int Index4(int x, int y, int height) const {
    const std::uint8_t pair = bytes.at(RowStart(y, height) + x / 2);
    return x % 2 == 0 ? pair >> 4 : pair & 0xF;
  }
  Rgb Palette(int index) const {
    const std::size_t at = dib + 40 + 4 * static_cast<std::size_t>(index);
    return {bytes.at(at + 2), bytes.at(at + 1), bytes.at(at)};
  }
  Rgb Pixel(int x, int y, int height) const {
    if (Bpp() == 4) return Palette(Index4(x, y, height));
    const std::size_t at = RowStart(y, height) + 3 * static_cast<std::size_t>(x);
    return {bytes.at(at + 2), bytes.at(at + 1), bytes.at(at)};
  }
};

struct Bmp : Dib {
  explicit Bmp(const Bytes& b) : Dib{b, 14, U32(b, 10)} {}
  Rgb At(int x, int y) const { return Pixel(x, y, HeightField()); }
};

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kArtDir = BIOSUPDATE_ART_DIR;
const std::string kKoreanBackground = kArtDir + "/background134.bmp";
const std::string kEnglishBackground = kArtDir + "/background135.bmp";

// ---- Headers of the three bitmaps -------------------------------------------------------------

struct BmpCase {
  const char* name;
  Bytes bytes;
  int width;
  int height;
  int bpp;
  int palette_entries;
};

TEST(ArtBitmaps, HeadersDescribeTheirPixels) {
  const BmpCase cases[] = {
      {"mark132", art::MakeMarkBmp(), 22, 9, 4, 16},
      {"background134", ReadFile(kKoreanBackground), 640, 480, 24, 0},
      {"background135", ReadFile(kEnglishBackground), 640, 480, 24, 0},
  };
  for (const BmpCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes& b = c.bytes;
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size()) << "bfSize";
    EXPECT_EQ(U32(b, 14), 40u) << "BITMAPINFOHEADER";
    EXPECT_EQ(static_cast<int>(U32(b, 18)), c.width);
    EXPECT_EQ(static_cast<int>(U32(b, 22)), c.height) << "positive: bottom-up";
    EXPECT_EQ(U16(b, 26), 1) << "planes";
    EXPECT_EQ(U16(b, 28), c.bpp);
    EXPECT_EQ(U32(b, 30), 0u) << "BI_RGB";
    const std::size_t stride = (static_cast<std::size_t>(c.width) * c.bpp + 31) / 32 * 4;
    const std::size_t pixel_bytes = stride * static_cast<std::size_t>(c.height);
    EXPECT_EQ(U32(b, 10), 54u + 4u * c.palette_entries) << "bfOffBits";
    EXPECT_EQ(U32(b, 34), pixel_bytes) << "biSizeImage";
    EXPECT_EQ(b.size(), U32(b, 10) + pixel_bytes);
  }
}

// ---- The mark's bands ---------------------------------------------------------------------------

TEST(ArtMark, PixelsFollowTheBandTable) {
  const Rgb dark{45, 62, 210}, middle{94, 127, 252}, light{141, 166, 255}, black{0, 0, 0};
  auto shade = [&](char c) { return c == 'D' ? dark : c == 'M' ? middle : light; };
  // Shade of the first, second and third block on each row, top row first.
  const char* const bands[9] = {"DDD", "MMM", "LLL", "LLL", "MML", "DMM", "DDM", "DDD", "DDD"};
  const Bytes bytes = art::MakeMarkBmp();
  const Bmp bmp(bytes);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 22; ++x) {
      const bool gap = x == 6 || x == 7 || x == 14 || x == 15;
      const Rgb expected = gap ? black : shade(bands[y][x / 8]);
      EXPECT_EQ(bmp.At(x, y), expected) << "x=" << x << " y=" << y;
    }
  }
}

// ---- The backgrounds ---------------------------------------------------------------------------
//
// Fixed by the program that paints over them (its progress mark, its status text) and by the
// screen checks under Wine; the logo and the two texts may change freely within their areas.

struct Area {
  int left, top, right, bottom;  // inclusive
  bool Holds(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

constexpr Area kLogo{140, 105, 497, 277};
constexpr Area kTrack{255, 351, 380, 365};        // the frame's outer edge
constexpr Area kStatusBand{0, 278, 639, 350};     // the status text's rows, both languages

struct BackgroundCase {
  const char* name;
  std::string path;
  Area notice;
  Area warning;
};

void PrintTo(const BackgroundCase& c, std::ostream* os) { *os << c.name; }

const BackgroundCase kBackgrounds[] = {
    {"korean134", kKoreanBackground, {19, 411, 619, 425}, {96, 438, 552, 476}},
    {"english135", kEnglishBackground, {11, 411, 626, 425}, {208, 438, 440, 476}},
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kOuterGrey{188, 188, 188};
constexpr Rgb kInnerGrey{70, 70, 70};

class ArtBackground : public testing::TestWithParam<BackgroundCase> {
 protected:
  Bytes bytes_ = ReadFile(GetParam().path);
  Bmp bmp_{bytes_};

  void SetUp() override {
    ASSERT_EQ(bytes_.size(), 54u + 640u * 480u * 3u) << GetParam().path;
  }
  // How many pixels of the area satisfy the predicate.
  template <typename Predicate>
  int Count(const Area& area, Predicate predicate) const {
    int count = 0;
    for (int y = area.top; y <= area.bottom; ++y) {
      for (int x = area.left; x <= area.right; ++x) count += predicate(bmp_.At(x, y)) ? 1 : 0;
    }
    return count;
  }
};

// Along each straight edge, the outermost line is light grey and the one inside it dim grey;
// beyond the outer edge it is black, and the corners are rounded off. Inside, where the mark
// slides, it is black.
TEST_P(ArtBackground, TrackFrameLinesOnTheStraightEdgesAndTheInside) {
  constexpr int kCorner = 3;  // the straight part of an edge starts this far from the corner
  struct Line {
    const char* name;
    int x0, y0, x1, y1;  // inclusive, a row or a column (or the inside)
    Rgb colour;
  };
  const Line lines[] = {
      {"inside", 257, 354, 378, 362, kBlack},
      {"top outer", 255 + kCorner, 351, 380 - kCorner, 351, kOuterGrey},
      {"bottom outer", 255 + kCorner, 365, 380 - kCorner, 365, kOuterGrey},
      {"left outer", 255, 351 + kCorner, 255, 365 - kCorner, kOuterGrey},
      {"right outer", 380, 351 + kCorner, 380, 365 - kCorner, kOuterGrey},
      {"top inner", 255 + kCorner, 352, 380 - kCorner, 352, kInnerGrey},
      {"bottom inner", 255 + kCorner, 364, 380 - kCorner, 364, kInnerGrey},
      {"left inner", 256, 351 + kCorner, 256, 365 - kCorner, kInnerGrey},
      {"right inner", 379, 351 + kCorner, 379, 365 - kCorner, kInnerGrey},
      {"above", 255, 350, 380, 350, kBlack},
      {"below", 255, 366, 380, 366, kBlack},
      {"left of it", 254, 351, 254, 365, kBlack},
      {"right of it", 381, 351, 381, 365, kBlack},
      {"top-left corner", 255, 351, 255, 351, kBlack},
      {"top-right corner", 380, 351, 380, 351, kBlack},
      {"bottom-left corner", 255, 365, 255, 365, kBlack},
      {"bottom-right corner", 380, 365, 380, 365, kBlack},
  };
  for (const Line& line : lines) {
    for (int y = line.y0; y <= line.y1; ++y) {
      for (int x = line.x0; x <= line.x1; ++x) {
        EXPECT_EQ(bmp_.At(x, y), line.colour) << line.name << ": x=" << x << " y=" << y;
      }
    }
  }
}

// All four corners are drawn alike: an off-by-one on the right or bottom edge breaks this.
TEST_P(ArtBackground, TrackIsSymmetric) {
  for (int y = kTrack.top; y <= kTrack.bottom; ++y) {
    for (int x = kTrack.left; x <= kTrack.right; ++x) {
      ASSERT_EQ(bmp_.At(x, y), bmp_.At(kTrack.left + kTrack.right - x, y)) << "x=" << x << " y=" << y;
      ASSERT_EQ(bmp_.At(x, y), bmp_.At(x, kTrack.top + kTrack.bottom - y)) << "x=" << x << " y=" << y;
    }
  }
}

// The status text is drawn transparently over these rows, in either language's row.
TEST_P(ArtBackground, StatusRowsAreBlack) {
  EXPECT_EQ(Count(kStatusBand, [](Rgb c) { return c != kBlack; }), 0);
}

TEST_P(ArtBackground, BlackOutsideTheDrawnAreas) {
  const BackgroundCase& c = GetParam();
  const Area drawn[] = {kLogo, kTrack, c.notice, c.warning};
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      bool inside = false;
      for (const Area& area : drawn) inside = inside || area.Holds(x, y);
      if (inside) continue;
      ASSERT_EQ(bmp_.At(x, y), kBlack) << "x=" << x << " y=" << y;
    }
  }
}

// Something is drawn in each area: a text or logo lost in the making leaves it black. The
// counts are far below what the artwork has and far above stray pixels.
TEST_P(ArtBackground, EachAreaHasItsDrawing) {
  constexpr int kMinimumInk = 200;
  const BackgroundCase& c = GetParam();
  struct Drawing {
    const char* name;
    Area area;
  };
  const Drawing drawings[] = {{"logo", kLogo}, {"notice", c.notice}, {"warning", c.warning}};
  for (const Drawing& d : drawings) {
    EXPECT_GT(Count(d.area, [](Rgb p) { return p != kBlack; }), kMinimumInk) << d.name;
  }
}

TEST_P(ArtBackground, WarningHasAYellowSign) {
  constexpr int kMinimumYellow = 100;
  const auto yellow = [](Rgb p) { return p.r >= 220 && p.g >= 170 && p.b <= 60; };
  EXPECT_GT(Count(GetParam().warning, yellow), kMinimumYellow);
}

// The screen checks pick out what the program draws by colour: its progress mark by the
// mark's three blues, its status text by white. The picture must use neither.
TEST_P(ArtBackground, NoColourOfTheMarkOrTheStatusText) {
  const Rgb reserved[] = {{45, 62, 210}, {94, 127, 252}, {141, 166, 255}, {255, 255, 255}};
  const Area all{0, 0, 639, 479};
  for (const Rgb& colour : reserved) {
    EXPECT_EQ(Count(all, [&](Rgb p) { return p == colour; }), 0) << testing::PrintToString(colour);
  }
}

INSTANTIATE_TEST_SUITE_P(Both, ArtBackground, testing::ValuesIn(kBackgrounds),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- The icon -----------------------------------------------------------------------------------

TEST(ArtIcon, HeaderFields) {
  const Bytes b = art::MakeIcon();
  const std::size_t expected_size = 6 + 16 + 40 + 16 * 4 + 32 * 16 + 32 * 4;
  ASSERT_EQ(b.size(), expected_size);
  EXPECT_EQ(U16(b, 0), 0) << "reserved";
  EXPECT_EQ(U16(b, 2), 1) << "type icon";
  EXPECT_EQ(U16(b, 4), 1) << "image count";
  EXPECT_EQ(b[6], 32) << "width";
  EXPECT_EQ(b[7], 32) << "height";
  EXPECT_EQ(b[8], 16) << "colour count";
  EXPECT_EQ(U16(b, 10), 1) << "planes";
  EXPECT_EQ(U16(b, 12), 4) << "bit count";
  EXPECT_EQ(U32(b, 14), b.size() - 22) << "bytes in resource";
  EXPECT_EQ(U32(b, 18), 22u) << "image offset";
  EXPECT_EQ(U32(b, 22), 40u) << "BITMAPINFOHEADER";
  EXPECT_EQ(U32(b, 26), 32u) << "width";
  EXPECT_EQ(U32(b, 30), 64u) << "height covers XOR and AND";
  EXPECT_EQ(U16(b, 36), 4) << "bpp";
  EXPECT_EQ(U32(b, 38), 0u) << "BI_RGB";
}

// Opaque pixels are grey; transparent ones are black in the XOR image, as Windows needs
// for the background to show through unchanged.
TEST(ArtIcon, GreyNutOnTransparentBackground) {
  const Bytes b = art::MakeIcon();
  const Dib xor_image{b, 22, 22 + 40 + 64};
  const std::size_t mask = 22 + 40 + 64 + 32 * 16;
  auto clear = [&](int x, int y) {
    return (b.at(mask + 4 * (31 - y) + x / 8) >> (7 - x % 8) & 1) != 0;
  };
  int opaque = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const Rgb c = xor_image.Pixel(x, y, 32);
      if (clear(x, y)) {
        EXPECT_EQ(c, (Rgb{0, 0, 0})) << "x=" << x << " y=" << y;
      } else {
        ++opaque;
        EXPECT_TRUE(c.r == c.g && c.g == c.b && c.r > 0) << "x=" << x << " y=" << y << testing::PrintToString(c);
      }
    }
  }
  EXPECT_TRUE(clear(0, 0) && clear(31, 0) && clear(0, 31) && clear(31, 31)) << "corners";
  EXPECT_TRUE(clear(16, 16)) << "the hole";
  EXPECT_FALSE(clear(16, 5)) << "top face";
  EXPECT_FALSE(clear(16, 26)) << "bottom face";
  EXPECT_GT(opaque, 32 * 32 / 3);
}

}  // namespace
