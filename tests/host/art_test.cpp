// The placeholder pictures are read back through a small decoder of their own, so a slip
// in the encoder (row order, nibble order, palette byte order, padding) shows as a wrong
// pixel rather than agreeing with itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "art.h"

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

std::string Show(Rgb c) {
  return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

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
      {"background134", art::MakeBackgroundBmp(art::Background::k134), 640, 480, 24, 0},
      {"background135", art::MakeBackgroundBmp(art::Background::k135), 640, 480, 24, 0},
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
      EXPECT_EQ(bmp.At(x, y), expected) << "x=" << x << " y=" << y << " got " << Show(bmp.At(x, y));
    }
  }
}

// ---- The backgrounds' track ---------------------------------------------------------------------

class ArtBackground : public testing::TestWithParam<art::Background> {
 protected:
  Bytes bytes_ = art::MakeBackgroundBmp(GetParam());
  Bmp bmp_{bytes_};
};

TEST_P(ArtBackground, TrackInsideIsBlack) {
  for (int y = 354; y <= 362; ++y) {
    for (int x = 257; x <= 378; ++x) {
      ASSERT_EQ(bmp_.At(x, y), (Rgb{0, 0, 0})) << "x=" << x << " y=" << y;
    }
  }
}

TEST_P(ArtBackground, FrameHasLightOuterAndDimInnerLine) {
  const Rgb outer{188, 188, 188}, inner{70, 70, 70}, black{0, 0, 0};
  struct Point {
    int x, y;
    Rgb colour;
  };
  const Point points[] = {
      {300, 351, outer},
      {300, 365, outer},
      {255, 358, outer},
      {380, 358, outer},
      {300, 352, inner},
      {300, 364, inner},
      {256, 358, inner},
      {379, 358, inner},
      // Rounded corners: the bounding box's corner pixels stay black.
      {255, 351, black},
      {380, 351, black},
      {255, 365, black},
      {380, 365, black},
      // Just outside the frame.
      {254, 358, black},
      {381, 358, black},
      {300, 350, black},
      {300, 366, black},
  };
  for (const Point& p : points) {
    EXPECT_EQ(bmp_.At(p.x, p.y), p.colour)
        << "x=" << p.x << " y=" << p.y << " got " << Show(bmp_.At(p.x, p.y));
  }
}

// All four corners are drawn alike: an off-by-one on the right or bottom edge breaks this.
TEST_P(ArtBackground, TrackIsSymmetric) {
  for (int y = 351; y <= 365; ++y) {
    for (int x = 255; x <= 380; ++x) {
      ASSERT_EQ(bmp_.At(x, y), bmp_.At(255 + 380 - x, y)) << "x=" << x << " y=" << y;
      ASSERT_EQ(bmp_.At(x, y), bmp_.At(x, 351 + 365 - y)) << "x=" << x << " y=" << y;
    }
  }
}

// Text and logo come later: nothing may be drawn outside the logo area and the track yet.
TEST_P(ArtBackground, BlackOutsideLogoAreaAndTrack) {
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const bool logo = x >= 140 && x <= 497 && y >= 105 && y <= 277;
      const bool track = x >= 255 && x <= 380 && y >= 351 && y <= 365;
      if (logo || track) continue;
      ASSERT_EQ(bmp_.At(x, y), (Rgb{0, 0, 0})) << "x=" << x << " y=" << y;
    }
  }
}

}  // namespace

namespace art {
// Names the picture in test listings instead of dumping its bytes.
void PrintTo(Background background, std::ostream* os) {
  *os << (background == Background::k134 ? "Korean picture 134" : "English picture 135");
}
}  // namespace art

namespace {

INSTANTIATE_TEST_SUITE_P(Both, ArtBackground,
                         testing::Values(art::Background::k134, art::Background::k135),
                         [](const testing::TestParamInfo<art::Background>& test) {
                           return test.param == art::Background::k134 ? "b134" : "b135";
                         });

TEST(ArtBackgrounds, TheTwoCanBeToldApart) {
  EXPECT_NE(art::MakeBackgroundBmp(art::Background::k134),
            art::MakeBackgroundBmp(art::Background::k135));
}

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
        EXPECT_TRUE(c.r == c.g && c.g == c.b && c.r > 0) << "x=" << x << " y=" << y << Show(c);
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
