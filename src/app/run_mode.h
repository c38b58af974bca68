// The run mode: an integer read from the command-line arguments the way "%d" reads it.
#pragma once

#include <cstdint>

namespace app {

inline constexpr std::int32_t kCleanUpRunMode = 1;
// What the mode is when the arguments do not begin with a number.
inline constexpr std::int32_t kDefaultRunMode = 0;

// Leading white space is skipped, an optional sign and the longest run of decimal digits are
// read, the rest is ignored. No digits gives kDefaultRunMode. A number outside the 32-bit
// range is held at the nearest limit rather than wrapped (so "4294967297" is not mode 1).
std::int32_t ParseRunMode(const char* arguments);

}  // namespace app
