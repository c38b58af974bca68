#include "app/run_mode.h"

#include <limits>

namespace app {
namespace {

constexpr int kDecimalBase = 10;

bool IsScanfSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::int32_t ParseRunMode(const char* arguments) {
  if (arguments == nullptr) return kDefaultRunMode;
  const char* p = arguments;
  while (IsScanfSpace(*p)) ++p;

  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (!IsDigit(*p)) return kDefaultRunMode;

  // Accumulate as a magnitude with a limit one past INT32_MAX, which is what "-2147483648"
  // needs; anything beyond saturates.
  constexpr std::int64_t kMaxMagnitude =
      static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t magnitude = 0;
  for (; IsDigit(*p); ++p) {
    magnitude = magnitude * kDecimalBase + (*p - '0');
    if (magnitude > kMaxMagnitude) magnitude = kMaxMagnitude;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  if (magnitude > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(magnitude);
}

}  // namespace app
