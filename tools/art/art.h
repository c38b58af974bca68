// The pictures of the updater's resources that are drawn in code: the small progress mark
// and the application icon. (The two full-screen backgrounds are finished pictures in res/art,
// made by draw_backgrounds.sh.)
//
// Pure functions that return whole files (BMP, ICO) as bytes, so artmaker only writes them
// and the tests can read them back without running anything. Coordinates are top-down
// (y grows downward from the top row); the encoders turn them into bottom-up DIB rows.
#ifndef BIOSUPDATE_TOOLS_ART_ART_H
#define BIOSUPDATE_TOOLS_ART_ART_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace art {

struct Rgb {
  std::uint8_t r;
  std::uint8_t g;
  std::uint8_t b;
  bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kMarkDarkBlue{45, 62, 210};
inline constexpr Rgb kMarkMiddleBlue{94, 127, 252};
inline constexpr Rgb kMarkLightBlue{141, 166, 255};
inline constexpr Rgb kIconOutlineGrey{64, 64, 64};
inline constexpr Rgb kIconFaceGrey{150, 150, 150};
inline constexpr Rgb kIconHighlightGrey{200, 200, 200};

// ---- File names --------------------------------------------------------------------------

inline constexpr std::string_view kMarkFileName = "mark132.bmp";
inline constexpr std::string_view kIconFileName = "icon128.ico";

// ---- Images in memory --------------------------------------------------------------------

// Palette image, one index per pixel, rows top-down.
struct IndexedImage {
  int width;
  int height;
  std::vector<Rgb> palette;
  std::vector<std::uint8_t> pixels;
  std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// ---- DIB encoding ----------------------------------------------------------------------------

inline constexpr std::uint16_t kBmpSignature = 0x4D42;  // "BM"
inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::uint32_t kBmpInfoHeaderSize = 40;  // BITMAPINFOHEADER
inline constexpr std::size_t kPaletteEntrySize = 4;      // RGBQUAD
inline constexpr std::uint16_t kBmpPlanes = 1;
inline constexpr std::uint32_t kBmpCompressionRgb = 0;  // BI_RGB
inline constexpr std::int32_t kPixelsPerMetre = 3780;   // 96 dpi
inline constexpr std::size_t kDibRowAlignment = 4;
inline constexpr unsigned kBitsPerByte = 8;
inline constexpr std::uint16_t kBitsPerPixel4 = 4;
inline constexpr std::uint16_t kBitsPerPixel1 = 1;
inline constexpr std::size_t kPalette16Colours = 16;

namespace detail {

inline void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (i * kBitsPerByte)));
  }
}
inline void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) { PutLe(out, v, sizeof v); }
inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) { PutLe(out, v, sizeof v); }
inline void PutS32(std::vector<std::uint8_t>& out, std::int32_t v) {
  PutLe(out, static_cast<std::uint32_t>(v), sizeof v);
}

inline std::size_t RowStride(int width, unsigned bits_per_pixel) {
  const std::size_t bits = static_cast<std::size_t>(width) * bits_per_pixel;
  const std::size_t bytes = (bits + kBitsPerByte - 1) / kBitsPerByte;
  return (bytes + kDibRowAlignment - 1) / kDibRowAlignment * kDibRowAlignment;
}

// height_field is the DIB's biHeight: the image height, or twice it for an icon (XOR + AND).
inline void PutInfoHeader(std::vector<std::uint8_t>& out, int width, int height_field,
                          std::uint16_t bits_per_pixel, std::size_t image_bytes,
                          std::size_t colours) {
  Put32(out, kBmpInfoHeaderSize);
  PutS32(out, width);
  PutS32(out, height_field);
  Put16(out, kBmpPlanes);
  Put16(out, bits_per_pixel);
  Put32(out, kBmpCompressionRgb);
  Put32(out, static_cast<std::uint32_t>(image_bytes));
  PutS32(out, kPixelsPerMetre);
  PutS32(out, kPixelsPerMetre);
  Put32(out, static_cast<std::uint32_t>(colours));  // biClrUsed
  Put32(out, 0);                                    // biClrImportant: all of them
}

inline void PutPalette(std::vector<std::uint8_t>& out, std::span<const Rgb> palette) {
  for (const Rgb& c : palette) {
    out.insert(out.end(), {c.b, c.g, c.r, 0});  // RGBQUAD is blue first
  }
}

inline void PutFileHeader(std::vector<std::uint8_t>& out, std::size_t file_size,
                          std::size_t pixel_offset) {
  Put16(out, kBmpSignature);
  Put32(out, static_cast<std::uint32_t>(file_size));
  Put32(out, 0);  // two reserved words
  Put32(out, static_cast<std::uint32_t>(pixel_offset));
}

// 4-bit rows, bottom row first, left pixel in the high nibble.
inline std::vector<std::uint8_t> IndexedRows(const IndexedImage& image) {
  constexpr unsigned kHighNibbleShift = 4;
  constexpr int kPixelsPerByte = 2;
  const std::size_t stride = RowStride(image.width, kBitsPerPixel4);
  std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(image.height), 0);
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = rows.data() + stride * static_cast<std::size_t>(image.height - 1 - y);
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t index = image.pixels[static_cast<std::size_t>(y * image.width + x)];
      const unsigned shift = (x % kPixelsPerByte == 0) ? kHighNibbleShift : 0;
      row[x / kPixelsPerByte] =
          static_cast<std::uint8_t>(row[x / kPixelsPerByte] | (index << shift));
    }
  }
  return rows;
}

// An icon's AND mask: 1 bit per pixel, set where the background shows through.
inline std::vector<std::uint8_t> MaskRows(int width, int height, const std::vector<bool>& clear) {
  constexpr unsigned kTopBit = 0x80;
  const std::size_t stride = RowStride(width, kBitsPerPixel1);
  std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = rows.data() + stride * static_cast<std::size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      if (!clear[static_cast<std::size_t>(y * width + x)]) continue;
      const auto bit = static_cast<unsigned>(x) % kBitsPerByte;
      row[static_cast<unsigned>(x) / kBitsPerByte] |= static_cast<std::uint8_t>(kTopBit >> bit);
    }
  }
  return rows;
}

inline std::vector<std::uint8_t> BmpFile(int width, int height, std::uint16_t bits_per_pixel,
                                         std::span<const Rgb> palette,
                                         const std::vector<std::uint8_t>& rows) {
  const std::size_t pixel_offset =
      kBmpFileHeaderSize + kBmpInfoHeaderSize + palette.size() * kPaletteEntrySize;
  std::vector<std::uint8_t> out;
  out.reserve(pixel_offset + rows.size());
  PutFileHeader(out, pixel_offset + rows.size(), pixel_offset);
  PutInfoHeader(out, width, height, bits_per_pixel, rows.size(), palette.size());
  PutPalette(out, palette);
  out.insert(out.end(), rows.begin(), rows.end());
  return out;
}

}  // namespace detail

inline std::vector<std::uint8_t> EncodeBmp4(const IndexedImage& image) {
  return detail::BmpFile(image.width, image.height, kBitsPerPixel4, image.palette,
                         detail::IndexedRows(image));
}

// ---- ICO encoding ----------------------------------------------------------------------------

inline constexpr std::uint16_t kIcoTypeIcon = 1;
inline constexpr std::size_t kIcoDirSize = 6;        // ICONDIR
inline constexpr std::size_t kIcoDirEntrySize = 16;  // ICONDIRENTRY
inline constexpr int kIconMaskFactor = 2;  // biHeight covers the XOR image and the AND mask

// One 16-colour image; `clear` marks the transparent pixels (top-down, like the image).
inline std::vector<std::uint8_t> EncodeIco4(const IndexedImage& image,
                                            const std::vector<bool>& clear) {
  const auto xor_rows = detail::IndexedRows(image);
  const auto and_rows = detail::MaskRows(image.width, image.height, clear);
  const std::size_t pixel_bytes = xor_rows.size() + and_rows.size();
  const std::size_t dib_size =
      kBmpInfoHeaderSize + image.palette.size() * kPaletteEntrySize + pixel_bytes;
  std::vector<std::uint8_t> out;
  detail::Put16(out, 0);  // reserved
  detail::Put16(out, kIcoTypeIcon);
  detail::Put16(out, 1);  // one image
  out.push_back(static_cast<std::uint8_t>(image.width));
  out.push_back(static_cast<std::uint8_t>(image.height));
  out.push_back(static_cast<std::uint8_t>(image.palette.size()));
  out.push_back(0);  // reserved
  detail::Put16(out, kBmpPlanes);
  detail::Put16(out, kBitsPerPixel4);
  detail::Put32(out, static_cast<std::uint32_t>(dib_size));
  detail::Put32(out, static_cast<std::uint32_t>(kIcoDirSize + kIcoDirEntrySize));
  detail::PutInfoHeader(out, image.width, image.height * kIconMaskFactor, kBitsPerPixel4,
                        pixel_bytes, image.palette.size());
  detail::PutPalette(out, image.palette);
  out.insert(out.end(), xor_rows.begin(), xor_rows.end());
  out.insert(out.end(), and_rows.begin(), and_rows.end());
  return out;
}

// ---- The progress mark (mark132.bmp) ----------------------------------------------------------

inline constexpr int kMarkWidth = 22;
inline constexpr int kMarkHeight = 9;
inline constexpr int kMarkBlockWidth = 6;
inline constexpr int kMarkBlockPitch = 8;  // a block and the two black columns after it
inline constexpr int kMarkBlocks = 3;

// Palette slots of the mark; the rest of its 16 colours are unused black.
enum MarkShade : std::uint8_t { kMarkBlack, kMarkDark, kMarkMiddle, kMarkLight };

// Shade of each block (left, middle, right) on each row, top row first.
inline constexpr std::array<std::array<MarkShade, kMarkBlocks>, kMarkHeight> kMarkBands{{
    {kMarkDark, kMarkDark, kMarkDark},
    {kMarkMiddle, kMarkMiddle, kMarkMiddle},
    {kMarkLight, kMarkLight, kMarkLight},
    {kMarkLight, kMarkLight, kMarkLight},
    {kMarkMiddle, kMarkMiddle, kMarkLight},
    {kMarkDark, kMarkMiddle, kMarkMiddle},
    {kMarkDark, kMarkDark, kMarkMiddle},
    {kMarkDark, kMarkDark, kMarkDark},
    {kMarkDark, kMarkDark, kMarkDark},
}};

inline std::vector<Rgb> MarkPalette() {
  std::vector<Rgb> palette(kPalette16Colours, kBlack);
  palette[kMarkDark] = kMarkDarkBlue;
  palette[kMarkMiddle] = kMarkMiddleBlue;
  palette[kMarkLight] = kMarkLightBlue;
  return palette;
}

inline IndexedImage MarkImage() {
  IndexedImage image{kMarkWidth, kMarkHeight, MarkPalette(),
                     std::vector<std::uint8_t>(kMarkWidth * kMarkHeight, kMarkBlack)};
  for (int y = 0; y < kMarkHeight; ++y) {
    for (int block = 0; block < kMarkBlocks; ++block) {
      for (int dx = 0; dx < kMarkBlockWidth; ++dx) {
        image.at(block * kMarkBlockPitch + dx, y) =
            kMarkBands[static_cast<std::size_t>(y)][static_cast<std::size_t>(block)];
      }
    }
  }
  return image;
}

inline std::vector<std::uint8_t> MakeMarkBmp() { return EncodeBmp4(MarkImage()); }

// ---- The icon (icon128.ico) ------------------------------------------------------------------

inline constexpr int kIconSize = 32;
// A hex nut seen from above: flat top and bottom, a round hole for the bolt.
inline constexpr double kNutCircumradius = 15.5;
inline constexpr double kNutHoleRadius = 6.0;
inline constexpr double kNutOutlineWidth = 1.5;

enum IconShade : std::uint8_t { kIconClear, kIconOutline, kIconFace, kIconHighlight };

inline std::vector<Rgb> IconPalette() {
  std::vector<Rgb> palette(kPalette16Colours, kBlack);
  palette[kIconOutline] = kIconOutlineGrey;
  palette[kIconFace] = kIconFaceGrey;
  palette[kIconHighlight] = kIconHighlightGrey;
  return palette;
}

namespace detail {

// Distance from (dx, dy), relative to the nut's centre, to the nearest edge of the hexagon;
// negative outside it.
inline double NutEdgeDistance(double dx, double dy) {
  const double sqrt3 = std::sqrt(3.0);
  const double inradius = kNutCircumradius * sqrt3 / 2;
  const double to_flat = inradius - std::abs(dy);
  // The slanted edges satisfy sqrt3*|x| + |y| = sqrt3*R; the normal has length 2.
  const double to_slant = (sqrt3 * kNutCircumradius - sqrt3 * std::abs(dx) - std::abs(dy)) / 2;
  return std::min(to_flat, to_slant);
}

inline IconShade NutShade(int x, int y) {
  constexpr double kPixelCentre = 0.5;
  const double centre = kIconSize / 2.0;
  const double dx = x + kPixelCentre - centre;
  const double dy = y + kPixelCentre - centre;
  const double edge = NutEdgeDistance(dx, dy);
  const double from_hole = std::hypot(dx, dy) - kNutHoleRadius;
  if (edge < 0 || from_hole < 0) return kIconClear;
  if (edge < kNutOutlineWidth || from_hole < kNutOutlineWidth) return kIconOutline;
  // Light from the top: the upper faces are lit.
  return dy < 0 ? kIconHighlight : kIconFace;
}

}  // namespace detail

struct Icon {
  IndexedImage image;
  std::vector<bool> clear;
};

inline Icon IconImage() {
  constexpr auto kPixels = static_cast<std::size_t>(kIconSize * kIconSize);
  Icon icon{{kIconSize, kIconSize, IconPalette(), std::vector<std::uint8_t>(kPixels, kIconClear)},
            std::vector<bool>(kPixels, false)};
  for (int y = 0; y < kIconSize; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      const IconShade shade = detail::NutShade(x, y);
      icon.image.at(x, y) = shade;
      icon.clear[static_cast<std::size_t>(y * kIconSize + x)] = shade == kIconClear;
    }
  }
  return icon;
}

inline std::vector<std::uint8_t> MakeIcon() {
  const Icon icon = IconImage();
  return EncodeIco4(icon.image, icon.clear);
}

// ---- Everything artmaker writes ----------------------------------------------------------------

struct Picture {
  std::string_view file_name;
  std::vector<std::uint8_t> bytes;
};

inline std::vector<Picture> MakeAllPictures() {
  std::vector<Picture> pictures;
  pictures.push_back({kMarkFileName, MakeMarkBmp()});
  pictures.push_back({kIconFileName, MakeIcon()});
  return pictures;
}

}  // namespace art

#endif  // BIOSUPDATE_TOOLS_ART_ART_H
