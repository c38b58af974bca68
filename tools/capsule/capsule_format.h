// The UEFI capsule that the updater carries and hands to the flash tool: its layout, a
// maker for the build-time stand-in, and the checker that both the build (on a supplied
// capsule) and the stand-in flash tool run before accepting one.
//
// Header-only and free of <windows.h> so that the host tools, the host tests and the
// Windows flash tool all share one definition of the format.
#ifndef BIOSUPDATE_TOOLS_CAPSULE_CAPSULE_FORMAT_H
#define BIOSUPDATE_TOOLS_CAPSULE_CAPSULE_FORMAT_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace capsule {

// ---- EFI_GUID -------------------------------------------------------------------------

// EFI_GUID as laid out in memory: three little-endian integers, then eight plain bytes.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
};

inline constexpr std::size_t kGuidSize = 16;
inline constexpr std::size_t kGuidData2Offset = 4;
inline constexpr std::size_t kGuidData3Offset = 6;
inline constexpr std::size_t kGuidData4Offset = 8;

// The capsule GUID this laptop's firmware accepts for a system firmware update.
inline constexpr Guid kCapsuleGuid{
    0x3B6686BD, 0x0D76, 0x4030, {0xB7, 0x0E, 0xB5, 0x51, 0x9E, 0x2F, 0xC5, 0xA0}};

// EFI_FIRMWARE_FILE_SYSTEM2_GUID: the file system the stand-in volume claims to hold.
inline constexpr Guid kFirmwareFileSystem2Guid{
    0x8C8CE578, 0x8A3D, 0x4F1C, {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3}};
// EFI_FIRMWARE_FILE_SYSTEM3_GUID: the same file system, with files of 16 MB and more.
inline constexpr Guid kFirmwareFileSystem3Guid{
    0x5473C07A, 0x3DCB, 0x4DCA, {0xBD, 0x6F, 0x1E, 0x96, 0x89, 0xE7, 0x34, 0x9A}};
// The file systems a firmware parser can read the volume's files with; any other GUID means
// the volume is not a firmware image (or not one this firmware's update code can walk).
inline constexpr std::array<Guid, 2> kKnownFileSystemGuids{kFirmwareFileSystem2Guid,
                                                           kFirmwareFileSystem3Guid};

// ---- Capsule header (EFI_CAPSULE_HEADER, padded to HeaderSize) ---------------------------

inline constexpr std::string_view kCapsuleFileName = "47K31RB4.cap";

inline constexpr std::size_t kCapsuleGuidOffset = 0;
inline constexpr std::size_t kHeaderSizeOffset = 16;
inline constexpr std::size_t kFlagsOffset = 20;
inline constexpr std::size_t kImageSizeOffset = 24;
// sizeof(EFI_CAPSULE_HEADER): the least a file must hold for its fields to be read.
inline constexpr std::size_t kCapsuleHeaderFieldsSize = 28;
// The header as this capsule carries it: the fields above, zero-padded to 80 bytes.
inline constexpr std::uint32_t kCapsuleHeaderSize = 80;

inline constexpr std::uint32_t kFlagPersistAcrossReset = 0x00010000;
inline constexpr std::string_view kFlagPersistAcrossResetName =
    "CAPSULE_FLAGS_PERSIST_ACROSS_RESET";

inline constexpr std::uint32_t kCapsuleFileSize = 4'259'920;

// ---- Firmware volume (EFI_FIRMWARE_VOLUME_HEADER) right after the capsule header --------

inline constexpr std::size_t kFvOffset = kCapsuleHeaderSize;
inline constexpr std::uint64_t kFvLength = kCapsuleFileSize - kCapsuleHeaderSize;

inline constexpr std::size_t kFvZeroVectorOffset = 0;
inline constexpr std::size_t kFvZeroVectorSize = 16;
inline constexpr std::size_t kFvFileSystemGuidOffset = 16;
inline constexpr std::size_t kFvLengthOffset = 32;
inline constexpr std::size_t kFvSignatureOffset = 40;
inline constexpr std::size_t kFvAttributesOffset = 44;
inline constexpr std::size_t kFvHeaderLengthOffset = 48;
inline constexpr std::size_t kFvChecksumOffset = 50;
inline constexpr std::size_t kFvExtHeaderOffsetOffset = 52;
inline constexpr std::size_t kFvReservedOffset = 54;
inline constexpr std::size_t kFvRevisionOffset = 55;
inline constexpr std::size_t kFvBlockMapOffset = 56;
inline constexpr std::size_t kFvBlockMapEntrySize = 8;     // {NumBlocks u32, Length u32}
inline constexpr std::size_t kFvBlockMapLengthOffset = 4;  // Length within an entry
inline constexpr std::size_t kFvBlockMapEntryCount = 2;    // one run of blocks, then {0,0}

inline constexpr std::uint32_t kFvBlockCount = 1040;
inline constexpr std::uint32_t kFvBlockLength = 0x1000;
inline constexpr std::uint16_t kFvHeaderLength =
    kFvBlockMapOffset + kFvBlockMapEntryCount * kFvBlockMapEntrySize;
// The least header a volume can have: the fixed fields and the block map's {0,0} entry.
inline constexpr std::uint16_t kFvMinHeaderLength = kFvBlockMapOffset + kFvBlockMapEntrySize;

inline constexpr std::array<std::uint8_t, 4> kFvSignature{'_', 'F', 'V', 'H'};
inline constexpr std::string_view kFvSignatureText = "_FVH";
// Where the check looks for the signature: the volume starts right after the header.
inline constexpr std::size_t kFvSignatureFileOffset = kFvOffset + kFvSignatureOffset;

// EFI_FVB2 attributes: read/write/lock capabilities and status, sticky write, memory
// mapped, erase polarity 1 (erased flash reads 0xFF, which is what the volume is filled
// with) and 16-byte alignment.
inline constexpr std::uint32_t kFvAttributes = 0x0004FEFF;
inline constexpr std::uint16_t kFvExtHeaderOffsetNone = 0;
// EFI_FVH_REVISION, the one revision of the volume header there is.
inline constexpr std::uint8_t kFvRevision = 2;
inline constexpr std::uint8_t kErasedFlashByte = 0xFF;

static_assert(kFvLength == std::uint64_t{kFvBlockCount} * kFvBlockLength,
              "the block map must describe the whole volume");
static_assert(kFvHeaderLength % sizeof(std::uint16_t) == 0,
              "the FV checksum is a sum of 16-bit words");

// ---- Little-endian access -----------------------------------------------------------------

inline constexpr unsigned kBitsPerByte = 8;
inline constexpr unsigned kByteMask = 0xFF;

template <typename T>
void StoreLe(std::span<std::uint8_t> bytes, std::size_t offset, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>((value >> (i * kBitsPerByte)) & kByteMask);
  }
}

template <typename T>
T LoadLe(std::span<const std::uint8_t> bytes, std::size_t offset) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>(value | (static_cast<T>(bytes[offset + i]) << (i * kBitsPerByte)));
  }
  return value;
}

inline void StoreGuid(std::span<std::uint8_t> bytes, std::size_t offset, const Guid& guid) {
  StoreLe(bytes, offset, guid.data1);
  StoreLe(bytes, offset + kGuidData2Offset, guid.data2);
  StoreLe(bytes, offset + kGuidData3Offset, guid.data3);
  for (std::size_t i = 0; i < guid.data4.size(); ++i) {
    bytes[offset + kGuidData4Offset + i] = guid.data4[i];
  }
}

inline std::array<std::uint8_t, kGuidSize> GuidBytes(const Guid& guid) {
  std::array<std::uint8_t, kGuidSize> bytes{};
  StoreGuid(bytes, 0, guid);
  return bytes;
}

inline Guid LoadGuid(std::span<const std::uint8_t> bytes, std::size_t offset) {
  Guid guid{LoadLe<std::uint32_t>(bytes, offset),
            LoadLe<std::uint16_t>(bytes, offset + kGuidData2Offset),
            LoadLe<std::uint16_t>(bytes, offset + kGuidData3Offset),
            {}};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset + kGuidData4Offset),
              guid.data4.size(), guid.data4.begin());
  return guid;
}

inline bool operator==(const Guid& a, const Guid& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 && a.data4 == b.data4;
}

namespace detail {

inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";
inline constexpr unsigned kNibbleBits = 4;
inline constexpr unsigned kNibbleMask = 0xF;
inline constexpr unsigned kHexDigitsPerByte = 2;

// Upper-case, zero-padded to the full width of the value's type.
template <typename T>
void AppendHex(std::string& text, T value) {
  for (unsigned d = sizeof(T) * kHexDigitsPerByte; d-- > 0;) {
    text += kHexDigits[(value >> (d * kNibbleBits)) & kNibbleMask];
  }
}

}  // namespace detail

// "3B6686BD-0D76-4030-B70E-B5519E2FC5A0": the registry form people compare against.
inline std::string FormatGuid(const Guid& guid) {
  constexpr std::size_t kClockSeqBytes = 2;  // data4 prints as 2 bytes, a dash, 6 bytes
  std::string text;
  detail::AppendHex(text, guid.data1);
  text += '-';
  detail::AppendHex(text, guid.data2);
  text += '-';
  detail::AppendHex(text, guid.data3);
  for (std::size_t i = 0; i < guid.data4.size(); ++i) {
    if (i == 0 || i == kClockSeqBytes) text += '-';
    detail::AppendHex(text, guid.data4[i]);
  }
  return text;
}

// "0x00010000", "0xFFFF": zero-padded to the width of the value's type.
template <typename T>
std::string FormatHex(T value) {
  std::string text = "0x";
  detail::AppendHex(text, value);
  return text;
}

// ---- Maker -----------------------------------------------------------------------------

namespace detail {

// The 16-bit sum of the volume header's words (HeaderLength bytes, an even number); a sound
// header sums to zero.
inline std::uint16_t FvHeaderWordSum(std::span<const std::uint8_t> fv, std::size_t header_length) {
  std::uint16_t sum = 0;
  for (std::size_t at = 0; at + sizeof(std::uint16_t) <= header_length;
       at += sizeof(std::uint16_t)) {
    sum = static_cast<std::uint16_t>(sum + LoadLe<std::uint16_t>(fv, at));
  }
  return sum;
}

// Makes the 16-bit sum of all header words zero, as the firmware checks it.
inline void SealFvChecksum(std::span<std::uint8_t> fv) {
  StoreLe<std::uint16_t>(fv, kFvChecksumOffset, 0);
  StoreLe(fv, kFvChecksumOffset,
          static_cast<std::uint16_t>(-FvHeaderWordSum(fv, kFvHeaderLength)));
}

inline void WriteCapsuleHeader(std::span<std::uint8_t> file) {
  StoreGuid(file, kCapsuleGuidOffset, kCapsuleGuid);
  StoreLe(file, kHeaderSizeOffset, kCapsuleHeaderSize);
  StoreLe(file, kFlagsOffset, kFlagPersistAcrossReset);
  StoreLe(file, kImageSizeOffset, kCapsuleFileSize);
}

inline void WriteFvHeader(std::span<std::uint8_t> fv) {
  StoreGuid(fv, kFvFileSystemGuidOffset, kFirmwareFileSystem2Guid);
  StoreLe(fv, kFvLengthOffset, kFvLength);
  for (std::size_t i = 0; i < kFvSignature.size(); ++i)
    fv[kFvSignatureOffset + i] = kFvSignature[i];
  StoreLe(fv, kFvAttributesOffset, kFvAttributes);
  StoreLe(fv, kFvHeaderLengthOffset, kFvHeaderLength);
  StoreLe(fv, kFvExtHeaderOffsetOffset, kFvExtHeaderOffsetNone);
  fv[kFvRevisionOffset] = kFvRevision;
  StoreLe(fv, kFvBlockMapOffset, kFvBlockCount);
  StoreLe(fv, kFvBlockMapOffset + kFvBlockMapLengthOffset, kFvBlockLength);
  // The {0,0} terminator entry and the Reserved byte stay as zero-filled.
  SealFvChecksum(fv);
}

}  // namespace detail

// The build-time stand-in capsule: a valid header and an empty (erased) firmware volume.
inline std::vector<std::uint8_t> MakeCapsule() {
  std::vector<std::uint8_t> file(kCapsuleFileSize, kErasedFlashByte);
  const std::span<std::uint8_t> all(file);
  // Both headers are zero wherever a field is not written.
  std::fill_n(file.begin(), kFvOffset + kFvHeaderLength, std::uint8_t{0});
  detail::WriteCapsuleHeader(all);
  detail::WriteFvHeader(all.subspan(kFvOffset, kFvLength));
  return file;
}

// ---- Checker ---------------------------------------------------------------------------

namespace detail {

inline std::string FvField(std::string_view field) {
  return "firmware volume " + std::string(field);
}

// The volume header, judged as the firmware's own parser judges it before it trusts a single
// length in it. `fv` is everything after the capsule header, whose signature is checked;
// `fv_length_expected` is what the capsule header leaves for the one volume it holds.
inline std::optional<std::string> CheckFvHeader(std::span<const std::uint8_t> fv,
                                                std::uint64_t fv_length_expected,
                                                const std::string& fv_length_source) {
  if (fv.size() < kFvBlockMapOffset) {
    return FvField("header is cut: its fixed fields need " + std::to_string(kFvBlockMapOffset) +
                   " bytes, the file holds " + std::to_string(fv.size()) +
                   " after the capsule header");
  }
  const auto header_length = LoadLe<std::uint16_t>(fv, kFvHeaderLengthOffset);
  if (header_length < kFvMinHeaderLength || header_length % sizeof(std::uint16_t) != 0) {
    return FvField("HeaderLength is " + std::to_string(header_length) +
                   ", expected an even number of at least " + std::to_string(kFvMinHeaderLength));
  }
  if (header_length > fv.size()) {
    return FvField("HeaderLength is " + std::to_string(header_length) + " but the file holds " +
                   std::to_string(fv.size()) + " bytes after the capsule header");
  }
  if (const auto sum = FvHeaderWordSum(fv, header_length); sum != 0) {
    return FvField("Checksum is " + FormatHex(LoadLe<std::uint16_t>(fv, kFvChecksumOffset)) +
                   ": the header's 16-bit words sum to " + FormatHex(sum) + ", expected 0x0000");
  }
  if (const auto revision = fv[kFvRevisionOffset]; revision != kFvRevision) {
    return FvField("Revision is " + std::to_string(revision) + ", expected " +
                   std::to_string(kFvRevision));
  }
  const auto fv_length = LoadLe<std::uint64_t>(fv, kFvLengthOffset);
  if (fv_length != fv_length_expected) {
    return FvField("FvLength is " + std::to_string(fv_length) + " but " + fv_length_source +
                   " leaves " + std::to_string(fv_length_expected));
  }
  // Runs of {NumBlocks, Length} up to the {0,0} entry; together they must be the volume.
  std::uint64_t covered = 0;
  bool terminated = false;
  for (std::size_t at = kFvBlockMapOffset; at + kFvBlockMapEntrySize <= header_length;
       at += kFvBlockMapEntrySize) {
    const auto blocks = LoadLe<std::uint32_t>(fv, at);
    const auto length = LoadLe<std::uint32_t>(fv, at + kFvBlockMapLengthOffset);
    if (blocks == 0 && length == 0) {
      terminated = true;
      break;
    }
    covered += std::uint64_t{blocks} * length;
  }
  if (!terminated) {
    return FvField("block map has no {0, 0} entry within HeaderLength " +
                   std::to_string(header_length));
  }
  if (covered != fv_length) {
    return FvField("block map covers " + std::to_string(covered) + " bytes, FvLength is " +
                   std::to_string(fv_length));
  }
  const Guid file_system = LoadGuid(fv, kFvFileSystemGuidOffset);
  if (std::find(kKnownFileSystemGuids.begin(), kKnownFileSystemGuids.end(), file_system) ==
      kKnownFileSystemGuids.end()) {
    std::string known;
    for (const Guid& guid : kKnownFileSystemGuids) {
      known += (known.empty() ? "" : " or ") + FormatGuid(guid);
    }
    return FvField("FileSystemGuid is " + FormatGuid(file_system) + ", expected " + known);
  }
  return std::nullopt;
}

}  // namespace detail

// nullopt when the capsule would be accepted; otherwise what is wrong with it. A supplied
// capsule is judged by its own header, so its total size is not pinned to the stand-in's.
inline std::optional<std::string> CheckCapsule(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kCapsuleHeaderFieldsSize) {
    return "file too short for a capsule header (" + std::to_string(bytes.size()) + " bytes)";
  }
  const auto expected_guid = GuidBytes(kCapsuleGuid);
  if (!std::equal(expected_guid.begin(), expected_guid.end(), bytes.begin() + kCapsuleGuidOffset)) {
    return "capsule GUID is not " + FormatGuid(kCapsuleGuid);
  }
  const auto header_size = LoadLe<std::uint32_t>(bytes, kHeaderSizeOffset);
  if (header_size != kCapsuleHeaderSize) {
    return "HeaderSize is " + std::to_string(header_size) + ", expected " +
           std::to_string(kCapsuleHeaderSize);
  }
  if ((LoadLe<std::uint32_t>(bytes, kFlagsOffset) & kFlagPersistAcrossReset) == 0) {
    return "Flags lack " + std::string(kFlagPersistAcrossResetName) + " (" +
           FormatHex(kFlagPersistAcrossReset) + ")";
  }
  const auto image_size = LoadLe<std::uint32_t>(bytes, kImageSizeOffset);
  if (image_size != bytes.size()) {
    return "CapsuleImageSize is " + std::to_string(image_size) + " but the file has " +
           std::to_string(bytes.size()) + " bytes";
  }
  const bool has_signature =
      bytes.size() >= kFvSignatureFileOffset + kFvSignature.size() &&
      std::equal(kFvSignature.begin(), kFvSignature.end(), bytes.begin() + kFvSignatureFileOffset);
  if (!has_signature) {
    return "no firmware volume signature \"" + std::string(kFvSignatureText) + "\" at offset " +
           std::to_string(kFvSignatureFileOffset);
  }
  return detail::CheckFvHeader(bytes.subspan(kFvOffset), std::uint64_t{image_size} - header_size,
                               "CapsuleImageSize " + std::to_string(image_size) +
                                   " less HeaderSize " + std::to_string(header_size));
}

// The header's fields, one "Name: value" line each, as a release records them; for a capsule
// that CheckCapsule accepts.
inline std::string DescribeCapsule(std::span<const std::uint8_t> bytes) {
  return "GUID: " + FormatGuid(LoadGuid(bytes, kCapsuleGuidOffset)) + "\n" +
         "HeaderSize: " + std::to_string(LoadLe<std::uint32_t>(bytes, kHeaderSizeOffset)) + "\n" +
         "Flags: " + FormatHex(LoadLe<std::uint32_t>(bytes, kFlagsOffset)) + "\n" +
         "CapsuleImageSize: " + std::to_string(LoadLe<std::uint32_t>(bytes, kImageSizeOffset)) +
         "\n";
}

}  // namespace capsule

#endif  // BIOSUPDATE_TOOLS_CAPSULE_CAPSULE_FORMAT_H
