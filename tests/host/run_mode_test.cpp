#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "app/run_mode.h"

namespace {

TEST(RunMode, ReadsLeadingIntegerLikePercentD) {
  const std::pair<const char*, std::int32_t> rows[] = {
      {"", 0}, {"0", 0}, {"1", 1}, {"2", 2}, {"-1", -1}, {"abc", 0}, {" 1", 1}, {"\t\r\n 1", 1}, {"1 2", 1},
      {"1abc", 1}, {"+1", 1}, {"01", 1}, {"- 1", 0}, {"--1", 0}, {"/1", 0}, {"\"1\"", 0},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
      // Out of range is held at the limit, never wrapped onto the clean-up mode.
      {"4294967297", 2147483647}, {"-4294967295", -2147483647 - 1}, {"99999999999999999999999", 2147483647}};
  for (const auto& [arguments, mode] : rows) {
    EXPECT_EQ(app::ParseRunMode(arguments), mode) << "arguments \"" << arguments << "\"";
  }
}

TEST(RunMode, NullArgumentsAreTheUpdateMode) { EXPECT_EQ(app::ParseRunMode(nullptr), 0); }

}  // namespace
