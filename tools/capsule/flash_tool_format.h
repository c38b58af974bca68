// What the build accepts as the flash tool it embeds: a whole 64-bit console executable
// (PE32+, machine AMD64, console subsystem). The updater runs the tool elevated and waits on
// its exit code, so a truncated download, a 32-bit or GUI build, or a web page saved under the
// tool's name must stop the build rather than reach a customer.
//
// Header-only and free of <windows.h>, like the capsule's format.
#ifndef BIOSUPDATE_TOOLS_CAPSULE_FLASH_TOOL_FORMAT_H
#define BIOSUPDATE_TOOLS_CAPSULE_FLASH_TOOL_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "capsule_format.h"

namespace flash_tool {

// ---- DOS header -------------------------------------------------------------------------

inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::uint16_t kDosMagic = 0x5A4D;  // "MZ"
inline constexpr std::size_t kPeHeaderPointerOffset = 0x3C;  // e_lfanew

// ---- PE signature and COFF file header (from e_lfanew) -------------------------------------

inline constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr std::size_t kPeSignatureSize = 4;
inline constexpr std::size_t kMachineOffset = 4;
inline constexpr std::size_t kSectionCountOffset = 6;
inline constexpr std::size_t kOptionalHeaderSizeOffset = 20;
inline constexpr std::size_t kOptionalHeaderOffset = 24;  // signature + COFF header

inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

// ---- Optional header (PE32+) ----------------------------------------------------------------

inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kSubsystemOffset = 68;
inline constexpr std::size_t kSubsystemEnd = kSubsystemOffset + sizeof(std::uint16_t);
inline constexpr std::size_t kDirectoryCountOffset = 108;
inline constexpr std::size_t kDirectoriesOffset = 112;
inline constexpr std::size_t kDirectorySize = 8;  // {VirtualAddress u32, Size u32}
// IMAGE_DIRECTORY_ENTRY_SECURITY: the Authenticode signature; its address is a file offset.
inline constexpr std::uint32_t kCertificateDirectory = 4;
inline constexpr std::size_t kCertificateDirectoryOffset =
    kDirectoriesOffset + kCertificateDirectory * kDirectorySize;

inline constexpr std::uint16_t kMagicPe32Plus = 0x020B;
inline constexpr std::uint16_t kSubsystemGui = 2;
inline constexpr std::uint16_t kSubsystemConsole = 3;

// ---- Section table ----------------------------------------------------------------------------

inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::size_t kSectionNameSize = 8;
inline constexpr std::size_t kSectionRawSizeOffset = 16;
inline constexpr std::size_t kSectionRawPointerOffset = 20;

namespace detail {

inline std::string Hex16(std::uint16_t value) {
  std::string text = "0x";
  capsule::detail::AppendHex(text, value);
  return text;
}

inline std::string SubsystemText(std::uint16_t subsystem) {
  std::string text = std::to_string(subsystem);
  if (subsystem == kSubsystemGui) text += " (Windows GUI)";
  if (subsystem == kSubsystemConsole) text += " (Windows console)";
  return text;
}

// A section's name as its header spells it: up to eight bytes, NUL-padded.
inline std::string SectionName(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::string name;
  for (std::size_t i = 0; i < kSectionNameSize && bytes[at + i] != 0; ++i) {
    name += static_cast<char>(bytes[at + i]);
  }
  return name;
}

inline std::string Truncated(const std::string& part, std::uint64_t end, std::size_t size) {
  return "truncated: " + part + " ends at byte " + std::to_string(end) + " but the file has " +
         std::to_string(size) + " bytes";
}

}  // namespace detail

// nullopt when the file would be embedded; otherwise what is wrong with it.
inline std::optional<std::string> CheckFlashTool(std::span<const std::uint8_t> bytes) {
  using capsule::LoadLe;
  const std::size_t size = bytes.size();
  if (size < kDosHeaderSize) {
    return "file too short for an executable (" + std::to_string(size) + " bytes)";
  }
  if (LoadLe<std::uint16_t>(bytes, 0) != kDosMagic) {
    return "no \"MZ\" signature at offset 0: not a Windows executable";
  }
  // 64-bit sums throughout: every offset below comes from the file.
  const std::uint64_t pe = LoadLe<std::uint32_t>(bytes, kPeHeaderPointerOffset);
  if (pe + kOptionalHeaderOffset > size) {
    return detail::Truncated("the PE header", pe + kOptionalHeaderOffset, size);
  }
  if (LoadLe<std::uint32_t>(bytes, pe) != kPeSignature) {
    return "no \"PE\\0\\0\" signature at offset " + std::to_string(pe);
  }
  const auto machine = LoadLe<std::uint16_t>(bytes, pe + kMachineOffset);
  if (machine != kMachineAmd64) {
    return "machine is " + detail::Hex16(machine) + ", expected " + detail::Hex16(kMachineAmd64) +
           " (AMD64)";
  }
  const std::uint64_t optional = pe + kOptionalHeaderOffset;
  const std::uint64_t optional_size = LoadLe<std::uint16_t>(bytes, pe + kOptionalHeaderSizeOffset);
  if (optional_size < kSubsystemEnd) {
    return "optional header is " + std::to_string(optional_size) + " bytes, too small for a " +
           "subsystem field";
  }
  if (optional + optional_size > size) {
    return detail::Truncated("the optional header", optional + optional_size, size);
  }
  const auto magic = LoadLe<std::uint16_t>(bytes, optional + kMagicOffset);
  if (magic != kMagicPe32Plus) {
    return "optional header magic is " + detail::Hex16(magic) + ", expected " +
           detail::Hex16(kMagicPe32Plus) + " (PE32+)";
  }
  const auto subsystem = LoadLe<std::uint16_t>(bytes, optional + kSubsystemOffset);
  if (subsystem != kSubsystemConsole) {
    return "subsystem is " + detail::SubsystemText(subsystem) + ", expected " +
           detail::SubsystemText(kSubsystemConsole);
  }
  // A download cut short keeps its headers: only the sections' and the signature's extents
  // show that the rest is missing.
  const std::uint64_t sections = optional + optional_size;
  const std::uint64_t section_count = LoadLe<std::uint16_t>(bytes, pe + kSectionCountOffset);
  const std::uint64_t sections_end = sections + section_count * kSectionHeaderSize;
  if (sections_end > size) return detail::Truncated("the section table", sections_end, size);
  for (std::uint64_t at = sections; at < sections_end; at += kSectionHeaderSize) {
    const std::uint64_t end = std::uint64_t{LoadLe<std::uint32_t>(bytes, at + kSectionRawPointerOffset)} +
                              LoadLe<std::uint32_t>(bytes, at + kSectionRawSizeOffset);
    if (end > size) return detail::Truncated("section " + detail::SectionName(bytes, at), end, size);
  }
  const bool has_certificate_entry =
      optional_size >= kCertificateDirectoryOffset + kDirectorySize &&
      LoadLe<std::uint32_t>(bytes, optional + kDirectoryCountOffset) > kCertificateDirectory;
  if (has_certificate_entry) {
    const std::uint64_t entry = optional + kCertificateDirectoryOffset;
    const std::uint64_t end = std::uint64_t{LoadLe<std::uint32_t>(bytes, entry)} +
                              LoadLe<std::uint32_t>(bytes, entry + sizeof(std::uint32_t));
    if (end > size) return detail::Truncated("the signature", end, size);
  }
  return std::nullopt;
}

}  // namespace flash_tool

#endif  // BIOSUPDATE_TOOLS_CAPSULE_FLASH_TOOL_FORMAT_H
