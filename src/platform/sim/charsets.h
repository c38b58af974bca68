// Conversions between the character sets the simulated machine speaks, through the C library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sim {

inline constexpr const char* kKoreanCharset = "CP949";    // the Korean ANSI code page
inline constexpr const char* kWideCharset = "UTF-16LE";   // Windows' wide text
inline constexpr const char* kUtf8Charset = "UTF-8";      // what the tests read

// The bytes `text` in charset `from` become in charset `to`; none when the C library cannot
// convert all of them.
std::optional<std::string> Convert(std::string_view text, const char* from, const char* to);
// Windows' wide text, NUL-terminated, as a test reads it: UTF-8 ("?" when it cannot be converted).
std::string Utf8(const char16_t* wide);

}  // namespace sim
