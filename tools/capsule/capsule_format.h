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

inline constexpr std::array<std::uint8_t, 4> kFvSignature{'_', 'F', 'V', 'H'};
inline constexpr std::string_view kFvSignatureText = "_FVH";
// Where the check looks for the signature: the volume starts right after the header.
inline constexpr std::size_t kFvSignatureFileOffset = kFvOffset + kFvSignatureOffset;

// EFI_FVB2 attributes: read/write/lock capabilities and status, sticky write, memory
// mapped, erase polarity 1 (erased flash reads 0xFF, which is what the volume is filled
// with) and 16-byte alignment.
inline constexpr std::uint32_t kFvAttributes = 0x0004FEFF;
inline constexpr std::uint16_t kFvExtHeaderOffsetNone = 0;
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

// "0x00010000"
inline std::string FormatHex32(std::uint32_t value) {
  std::string text = "0x";
  detail::AppendHex(text, value);
  return text;
}

// ---- Maker -----------------------------------------------------------------------------

namespace detail {

// Makes the 16-bit sum of all header words zero, as the firmware checks it.
inline void SealFvChecksum(std::span<std::uint8_t> fv) {
  constexpr std::uint32_t kWordModulus = 0x10000;
  StoreLe<std::uint16_t>(fv, kFvChecksumOffset, 0);
  std::uint32_t sum = 0;
  for (std::size_t at = 0; at < kFvHeaderLength; at += sizeof(std::uint16_t)) {
    sum += LoadLe<std::uint16_t>(fv, at);
  }
  StoreLe(fv, kFvChecksumOffset,
          static_cast<std::uint16_t>((kWordModulus - sum % kWordModulus) % kWordModulus));
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
           FormatHex32(kFlagPersistAcrossReset) + ")";
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
  return std::nullopt;
}

// The header's fields, one "Name: value" line each, as a release records them; for a capsule
// that CheckCapsule accepts.
inline std::string DescribeCapsule(std::span<const std::uint8_t> bytes) {
  Guid guid{LoadLe<std::uint32_t>(bytes, kCapsuleGuidOffset),
            LoadLe<std::uint16_t>(bytes, kCapsuleGuidOffset + kGuidData2Offset),
            LoadLe<std::uint16_t>(bytes, kCapsuleGuidOffset + kGuidData3Offset),
            {}};
  std::copy_n(bytes.begin() + kCapsuleGuidOffset + kGuidData4Offset, guid.data4.size(),
              guid.data4.begin());
  return "GUID: " + FormatGuid(guid) + "\n" +
         "HeaderSize: " + std::to_string(LoadLe<std::uint32_t>(bytes, kHeaderSizeOffset)) + "\n" +
         "Flags: " + FormatHex32(LoadLe<std::uint32_t>(bytes, kFlagsOffset)) + "\n" +
         "CapsuleImageSize: " + std::to_string(LoadLe<std::uint32_t>(bytes, kImageSizeOffset)) +
         "\n";
}

}  // namespace capsule

#endif  // BIOSUPDATE_TOOLS_CAPSULE_CAPSULE_FORMAT_H
