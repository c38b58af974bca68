#include <gtest/gtest.h>

#include <ostream>

#include "app/run_mode.h"

namespace {

struct RunModeCase {
  const char* arguments;
  std::int32_t mode;
};

std::ostream& operator<<(std::ostream& os, const RunModeCase& c) {
  return os << '"' << c.arguments << "\" -> " << c.mode;
}

class RunModeTest : public ::testing::TestWithParam<RunModeCase> {};

TEST_P(RunModeTest, ReadsLeadingIntegerLikePercentD) {
  EXPECT_EQ(app::ParseRunMode(GetParam().arguments), GetParam().mode)
      << "arguments \"" << GetParam().arguments << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunModeTest,
    ::testing::Values(RunModeCase{"", 0}, RunModeCase{"0", 0}, RunModeCase{"1", 1},
                      RunModeCase{"2", 2}, RunModeCase{"-1", -1}, RunModeCase{"abc", 0},
                      RunModeCase{" 1", 1}, RunModeCase{"\t\r\n 1", 1}, RunModeCase{"1 2", 1},
                      RunModeCase{"1abc", 1}, RunModeCase{"+1", 1}, RunModeCase{"01", 1},
                      RunModeCase{"- 1", 0}, RunModeCase{"--1", 0}, RunModeCase{"/1", 0},
                      RunModeCase{"\"1\"", 0}, RunModeCase{"2147483647", 2147483647},
                      RunModeCase{"-2147483648", -2147483647 - 1},
                      // Out of range is held at the limit, never wrapped onto the clean-up mode.
                      RunModeCase{"4294967297", 2147483647},
                      RunModeCase{"-4294967295", -2147483647 - 1},
                      RunModeCase{"99999999999999999999999", 2147483647}));

TEST(RunMode, NullArgumentsAreTheUpdateMode) { EXPECT_EQ(app::ParseRunMode(nullptr), 0); }

}  // namespace
