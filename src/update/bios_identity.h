// Which BIOS the machine runs: Win32_BIOS.SMBIOSBIOSVersion through WMI, upper-cased.
#pragma once

#include <string>

#include "platform/handle.h"

namespace update {

inline constexpr const char* kWmiNamespace = "\\\\.\\root\\cimv2";
inline constexpr const char16_t* kBiosClass = u"Win32_BIOS";
inline constexpr const char16_t* kBiosVersionProperty = u"SMBIOSBIOSVersion";
inline constexpr win::LONG kEnumerationTimeoutMs = 2000;

// The connection stays open for the rest of the run once made.
struct WmiConnection {
  win::ComPtr<win::IWbemServices> services;
};

// The running BIOS's version, upper-cased by the code page's rules; empty on any failure, of
// which nothing is said to the user.
std::string QueryBiosVersion(WmiConnection& connection);

}  // namespace update
