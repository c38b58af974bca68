// The stand-in capsule must pass the same check that guards a supplied one, and that check
// must name the field that is wrong; so must the check of a supplied flash tool.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capsule_format.h"
#include "flash_tool_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Written out by hand rather than taken from the header, so a byte-order slip shows.
constexpr std::uint8_t kGuidOnDisk[] = {0xBD, 0x86, 0x66, 0x3B, 0x76, 0x0D, 0x30, 0x40,
                                        0xB7, 0x0E, 0xB5, 0x51, 0x9E, 0x2F, 0xC5, 0xA0};
constexpr std::uint8_t kFileSystemGuidOnDisk[] = {0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                                                  0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
constexpr std::size_t kFileSize = 4'259'920;
constexpr std::size_t kFv = 80;
constexpr std::size_t kFvHeaderBytes = 72;

std::uint32_t Read32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void Write32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Write16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// The checksum made right over the volume header's first `header_length` bytes.
void ResealOver(Bytes& b, std::size_t header_length) {
  Write16(b, kFv + 50, 0);
  unsigned sum = 0;
  for (std::size_t at = kFv; at + 1 < kFv + header_length; at += 2) sum += b[at] | b[at + 1] << 8;
  Write16(b, kFv + 50, static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF)));
}

// A volume header field changed and the header's checksum made right again, so that only
// the field itself is wrong (HeaderLength as written decides which words are summed).
void Reseal(Bytes& b) { ResealOver(b, b[kFv + 48] | b[kFv + 49] << 8); }

// A block map of three runs, so that the header is 88 bytes and its words past the fixed
// 72 bytes are not zero; the checksum is left to the caller.
void ThreeRuns(Bytes& b) {
  Write16(b, kFv + 48, 88);
  Write32(b, kFv + 56, 1038);
  Write32(b, kFv + 60, 0x1000);
  Write32(b, kFv + 64, 2);
  Write32(b, kFv + 68, 0x800);
  Write32(b, kFv + 72, 1);
  Write32(b, kFv + 76, 0x1000);
  Write32(b, kFv + 80, 0);
  Write32(b, kFv + 84, 0);
}

// A change to the volume header, resealed.
std::function<void(Bytes&)> Resealed(std::function<void(Bytes&)> change) {
  return [change](Bytes& b) {
    change(b);
    Reseal(b);
  };
}

// The file cut to `size` bytes, CapsuleImageSize made to match.
std::function<void(Bytes&)> CutTo(std::size_t size) {
  return [size](Bytes& b) {
    b.resize(size);
    Write32(b, 24, static_cast<std::uint32_t>(size));
  };
}

// FvLength (u64 at 32 in the volume), resealed.
void WriteFvLength(Bytes& b, std::uint64_t length) {
  Write32(b, kFv + 32, static_cast<std::uint32_t>(length));
  Write32(b, kFv + 36, static_cast<std::uint32_t>(length >> 32));
  Reseal(b);
}

// The capsule cut to `volume` bytes of volume, its header, FvLength and one-run block map
// made to match, so that it is a sound capsule of another size.
void Shrink(Bytes& b, std::uint32_t blocks, std::uint32_t block_length) {
  const std::uint32_t volume = blocks * block_length;
  b.resize(kFv + volume);
  Write32(b, 24, static_cast<std::uint32_t>(kFv + volume));
  Write32(b, kFv + 56, blocks);
  Write32(b, kFv + 60, block_length);
  WriteFvLength(b, volume);
}

TEST(CapsuleFormat, MadeCapsuleHasTheFixedSizeAndPasses) {
  const Bytes made = capsule::MakeCapsule();
  EXPECT_EQ(made.size(), kFileSize);
  EXPECT_EQ(capsule::CheckCapsule(made), std::nullopt);
  EXPECT_TRUE(std::equal(std::begin(kGuidOnDisk), std::end(kGuidOnDisk), made.begin()));
  EXPECT_EQ(Read32(made, 16), 80u);
  EXPECT_EQ(Read32(made, 20), 0x00010000u);
  EXPECT_EQ(Read32(made, 24), kFileSize);
  EXPECT_TRUE(std::all_of(made.begin() + 28, made.begin() + 80, [](auto b) { return b == 0; }));
}

TEST(CapsuleFormat, MadeFirmwareVolumeHeaderIsValid) {
  const Bytes made = capsule::MakeCapsule();
  EXPECT_TRUE(
      std::all_of(made.begin() + kFv, made.begin() + kFv + 16, [](auto b) { return b == 0; }));
  EXPECT_TRUE(std::equal(std::begin(kFileSystemGuidOnDisk), std::end(kFileSystemGuidOnDisk),
                         made.begin() + kFv + 16));
  const std::uint64_t fv_length = Read32(made, kFv + 32) | std::uint64_t{Read32(made, kFv + 36)}
                                                               << 32;
  EXPECT_EQ(fv_length, kFileSize - kFv);
  EXPECT_EQ(std::string(made.begin() + 120, made.begin() + 124), "_FVH");
  EXPECT_EQ(made[kFv + 48] | made[kFv + 49] << 8, static_cast<int>(kFvHeaderBytes));
  EXPECT_EQ(made[kFv + 55], 2) << "Revision";

  unsigned sum = 0;
  for (std::size_t at = kFv; at < kFv + kFvHeaderBytes; at += 2)
    sum += made[at] | made[at + 1] << 8;
  EXPECT_EQ(sum & 0xFFFF, 0u) << "16-bit sum of the FV header words";

  EXPECT_EQ(Read32(made, kFv + 56), 1040u);
  EXPECT_EQ(Read32(made, kFv + 60), 0x1000u);
  EXPECT_EQ(Read32(made, kFv + 64), 0u);
  EXPECT_EQ(Read32(made, kFv + 68), 0u);
  EXPECT_TRUE(std::all_of(made.begin() + kFv + kFvHeaderBytes, made.end(), [](auto b) {
    return b == 0xFF;
  })) << "the volume past its header is erased flash";
}

struct Corruption {
  const char* name;
  std::function<void(Bytes&)> apply;
  const char* reason;  // expected exactly
};

void PrintTo(const Corruption& corruption, std::ostream* os) { *os << corruption.name; }
std::string CaseName(const testing::TestParamInfo<Corruption>& test) { return test.param.name; }

class CapsuleCorruption : public testing::TestWithParam<Corruption> {};

TEST_P(CapsuleCorruption, IsRejectedNamingTheField) {
  Bytes bytes = capsule::MakeCapsule();
  GetParam().apply(bytes);
  const auto reason = capsule::CheckCapsule(bytes);
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(*reason, GetParam().reason);
}

const char kWrongGuid[] = "capsule GUID is not 3B6686BD-0D76-4030-B70E-B5519E2FC5A0";

INSTANTIATE_TEST_SUITE_P(
    Fields, CapsuleCorruption,
    testing::Values(
        Corruption{"GuidFirstByte", [](Bytes& b) { b[0] ^= 1; }, kWrongGuid},
        Corruption{"GuidData2", [](Bytes& b) { std::swap(b[4], b[5]); }, kWrongGuid},
        Corruption{"GuidLastByte", [](Bytes& b) { b[15] ^= 0x80; }, kWrongGuid},
        Corruption{"HeaderSize64", [](Bytes& b) { Write32(b, 16, 64); }, "HeaderSize is 64, expected 80"},
        Corruption{"PersistFlagCleared", [](Bytes& b) { Write32(b, 20, 0); },
                   "Flags lack CAPSULE_FLAGS_PERSIST_ACROSS_RESET (0x00010000)"},
        Corruption{"OnlyOtherFlags", [](Bytes& b) { Write32(b, 20, 0x00060000); },
                   "Flags lack CAPSULE_FLAGS_PERSIST_ACROSS_RESET (0x00010000)"},
        Corruption{"ImageSizeOneMore", [](Bytes& b) { Write32(b, 24, kFileSize + 1); },
                   "CapsuleImageSize is 4259921 but the file has 4259920 bytes"},
        Corruption{"ImageSizeOneLess", [](Bytes& b) { Write32(b, 24, kFileSize - 1); },
                   "CapsuleImageSize is 4259919 but the file has 4259920 bytes"},
        Corruption{"TruncatedByOne", [](Bytes& b) { b.pop_back(); },
                   "CapsuleImageSize is 4259920 but the file has 4259919 bytes"},
        Corruption{"SignatureFirstByte", [](Bytes& b) { b[120] = 'X'; },
                   "no firmware volume signature \"_FVH\" at offset 120"},
        Corruption{"SignatureLastByte", [](Bytes& b) { b[123] = 'h'; },
                   "no firmware volume signature \"_FVH\" at offset 120"},
        Corruption{"EndsBeforeSignature", CutTo(122), "no firmware volume signature \"_FVH\" at offset 120"},
        Corruption{"TruncatedInsideHeader", [](Bytes& b) { b.resize(27); },
                   "file too short for a capsule header (27 bytes)"},
        Corruption{"Empty", [](Bytes& b) { b.clear(); }, "file too short for a capsule header (0 bytes)"},
        // The volume header, one field at a time, the checksum made right again.
        Corruption{"FvCutInFixedFields", CutTo(kFv + 50),
                   "firmware volume header is cut: its fixed fields need 56 bytes, "
                   "the file holds 50 after the capsule header"},
        Corruption{"FvReservedByteSet", [](Bytes& b) { b[kFv + 54] = 1; },
                   "firmware volume Checksum is 0xE27E: the header's 16-bit words sum to 0x0001, expected 0x0000"},
        Corruption{"FvHeaderLengthWithoutTerminator", Resealed([](Bytes& b) { Write16(b, kFv + 48, 62); }),
                   "firmware volume HeaderLength is 62, expected an even number of at least 64"},
        Corruption{"FvHeaderLengthOdd", Resealed([](Bytes& b) { Write16(b, kFv + 48, 73); }),
                   "firmware volume HeaderLength is 73, expected an even number of at least 64"},
        Corruption{"FvHeaderLengthPastFile",
                   [](Bytes& b) {
                     CutTo(kFv + 64)(b);
                     Write32(b, kFv + 32, 64);
                     Write32(b, kFv + 56, 1);
                     Write32(b, kFv + 60, 64);
                   },
                   "firmware volume HeaderLength is 72 but the file holds 64 bytes after the capsule header"},
        Corruption{"FvRevision1", Resealed([](Bytes& b) { b[kFv + 55] = 1; }),
                   "firmware volume Revision is 1, expected 2"},
        Corruption{"FvLengthPastFile", [](Bytes& b) { WriteFvLength(b, kFileSize - kFv + 4096); },
                   "firmware volume FvLength is 4263936 but CapsuleImageSize 4259920 "
                   "less HeaderSize 80 leaves 4259840"},
        Corruption{"FvLengthAbove4GB", [](Bytes& b) { WriteFvLength(b, (1ull << 32) + kFileSize - kFv); },
                   "firmware volume FvLength is 4299227136 but CapsuleImageSize "
                   "4259920 less HeaderSize 80 leaves 4259840"},
        Corruption{"FvBlockMapUnterminated", Resealed([](Bytes& b) { Write32(b, kFv + 64, 1); }),
                   "firmware volume block map has no {0, 0} entry within HeaderLength 72"},
        Corruption{"FvTerminatorJustPastHeaderLength", Resealed([](Bytes& b) { Write16(b, kFv + 48, 64); }),
                   "firmware volume block map has no {0, 0} entry within HeaderLength 64"},
        Corruption{"FvChecksumOverFixedFieldsOnly",
                   [](Bytes& b) {
                     ThreeRuns(b);
                     ResealOver(b, 72);
                   },
                   "firmware volume Checksum is 0xDA6E: the header's 16-bit words sum to 0x1001, expected 0x0000"},
        Corruption{"FvBlockMapShort", Resealed([](Bytes& b) { Write32(b, kFv + 56, 1039); }),
                   "firmware volume block map covers 4255744 bytes, FvLength is 4259840"},
        Corruption{"FvFileSystemUnknown", Resealed([](Bytes& b) { b[kFv + 16] ^= 0x01; }),
                   "firmware volume FileSystemGuid is 8C8CE579-8A3D-4F1C-9935-"
                   "896185C32DD3, expected 8C8CE578-8A3D-4F1C-9935-896185C32DD3 or "
                   "5473C07A-3DCB-4DCA-BD6F-1E9689E7349A"},
        Corruption{"FvFileSystemLastByte", Resealed([](Bytes& b) { b[kFv + 31] ^= 0x01; }),
                   "firmware volume FileSystemGuid is 8C8CE578-8A3D-4F1C-9935-"
                   "896185C32DD2, expected 8C8CE578-8A3D-4F1C-9935-896185C32DD3 or "
                   "5473C07A-3DCB-4DCA-BD6F-1E9689E7349A"}),
    CaseName);

// A supplied capsule is judged by its own headers: other sizes, extra flags, a block map of
// several runs, a volume of the third file system are fine.
TEST(CapsuleFormat, AcceptsConsistentCapsulesOfOtherShapes) {
  struct Case {
    const char* name;
    std::function<void(Bytes&)> apply;
  };
  const Case cases[] = {
      {"extra flag bits", [](Bytes& b) { Write32(b, 20, 0x00030000); }},
      {"smaller image", [](Bytes& b) { Shrink(b, 1, 4096); }},
      {"header the whole volume", [](Bytes& b) { Shrink(b, 1, 72); }},
      {"three runs of blocks", Resealed(ThreeRuns)},
      {"file system 3", Resealed([](Bytes& b) {
         constexpr std::uint8_t kFfs3[] = {0x7A, 0xC0, 0x73, 0x54, 0xCB, 0x3D, 0xCA, 0x4D,
                                           0xBD, 0x6F, 0x1E, 0x96, 0x89, 0xE7, 0x34, 0x9A};
         std::copy(std::begin(kFfs3), std::end(kFfs3), b.begin() + kFv + 16);
       })},
  };
  for (const Case& c : cases) {
    Bytes bytes = capsule::MakeCapsule();
    c.apply(bytes);
    EXPECT_EQ(capsule::CheckCapsule(bytes), std::nullopt) << c.name;
  }
}

// The least PE32+ console executable the check accepts, laid out by hand: PE header at 0x40,
// optional header at 0x58 (240 bytes), one section .text with its 0x200 bytes at 0x200.
constexpr std::size_t kPe = 0x40;
constexpr std::size_t kOptional = 0x58;
constexpr std::size_t kSection = 0x148;
constexpr std::size_t kCertificateEntry = kOptional + 144;
constexpr std::size_t kToolSize = 0x400;

Bytes MinimalTool() {
  Bytes b(kToolSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Write32(b, 0x3C, kPe);
  b[kPe] = 'P';
  b[kPe + 1] = 'E';
  Write16(b, kPe + 4, 0x8664);
  Write16(b, kPe + 6, 1);      // NumberOfSections
  Write16(b, kPe + 20, 0xF0);  // SizeOfOptionalHeader
  Write16(b, kOptional, 0x20B);
  Write16(b, kOptional + 68, 3);    // Subsystem
  Write32(b, kOptional + 108, 16);  // NumberOfRvaAndSizes
  const std::string name = ".text";
  std::copy(name.begin(), name.end(), b.begin() + kSection);
  Write32(b, kSection + 16, 0x200);  // SizeOfRawData
  Write32(b, kSection + 20, 0x200);  // PointerToRawData
  return b;
}

void AppendSignature(Bytes& b) {
  Write32(b, kCertificateEntry, static_cast<std::uint32_t>(b.size()));
  Write32(b, kCertificateEntry + 4, 0x80);
  b.resize(b.size() + 0x80, 0xA5);
}

class FlashToolCorruption : public testing::TestWithParam<Corruption> {};

TEST_P(FlashToolCorruption, IsRejectedSayingWhy) {
  Bytes bytes = MinimalTool();
  GetParam().apply(bytes);
  EXPECT_EQ(flash_tool::CheckFlashTool(bytes), std::optional<std::string>(GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FlashToolCorruption,
    testing::Values(
        Corruption{"Empty", [](Bytes& b) { b.clear(); }, "file too short for an executable (0 bytes)"},
        Corruption{"WebPage",
                   [](Bytes& b) {
                     const std::string page = "<!DOCTYPE html><title>404 Not Found</title>";
                     b.assign(page.begin(), page.end());
                     b.resize(512, ' ');
                   },
                   "no \"MZ\" signature at offset 0: not a Windows executable"},
        Corruption{"PeHeaderPastEnd", [](Bytes& b) { Write32(b, 0x3C, 0x3F0); },
                   "truncated: the PE header ends at byte 1032 but the file has 1024 bytes"},
        Corruption{"PeOffsetWraps", [](Bytes& b) { Write32(b, 0x3C, 0xFFFFFFFF); },
                   "truncated: the PE header ends at byte 4294967319 but the file has 1024 bytes"},
        Corruption{"NoPeSignature", [](Bytes& b) { b[kPe + 1] = 'X'; }, "no \"PE\\0\\0\" signature at offset 64"},
        Corruption{"I386", [](Bytes& b) { Write16(b, kPe + 4, 0x014C); }, "machine is 0x014C, expected 0x8664 (AMD64)"},
        Corruption{"OptionalHeaderTooSmall", [](Bytes& b) { Write16(b, kPe + 20, 64); },
                   "optional header is 64 bytes, too small for a subsystem field"},
        Corruption{"Pe32", [](Bytes& b) { Write16(b, kOptional, 0x10B); },
                   "optional header magic is 0x010B, expected 0x020B (PE32+)"},
        Corruption{"Gui", [](Bytes& b) { Write16(b, kOptional + 68, 2); },
                   "subsystem is 2 (Windows GUI), expected 3 (Windows console)"},
        Corruption{"CutInOptionalHeader", [](Bytes& b) { b.resize(0x100); },
                   "truncated: the optional header ends at byte 328 but the file has 256 bytes"},
        Corruption{"CutInSectionTable", [](Bytes& b) { b.resize(0x160); },
                   "truncated: the section table ends at byte 368 but the file has 352 bytes"},
        Corruption{"CutInSection", [](Bytes& b) { b.resize(0x3FF); },
                   "truncated: section .text ends at byte 1024 but the file has 1023 bytes"},
        Corruption{"CutInSignature",
                   [](Bytes& b) {
                     AppendSignature(b);
                     b.pop_back();
                   },
                   "truncated: the signature ends at byte 1152 but the file has 1151 bytes"}),
    CaseName);

TEST(FlashToolFormat, AcceptsWholeConsoleExecutables) {
  Bytes bytes = MinimalTool();
  EXPECT_EQ(flash_tool::CheckFlashTool(bytes), std::nullopt) << "unsigned";
  AppendSignature(bytes);
  EXPECT_EQ(flash_tool::CheckFlashTool(bytes), std::nullopt) << "signed";
}

}  // namespace
