// Comparing a run's record with an expected sequence, in the manner of Wine's ok_sequence:
// entries may be optional; a mismatch names its position and shows the expected entry beside
// the one that was recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/record.h"

namespace sim {
// Recorded arguments as a failure prints them.
inline void PrintTo(const Arg& arg, std::ostream* os) { *os << arg.ToString(); }
}  // namespace sim

namespace testing_support {

struct Expected {
  std::string name;
  std::vector<sim::Arg> args = {};  // compared with the record's first arguments
  bool optional = false;
  std::optional<std::uint64_t> atMs = {};
};

inline Expected Optional(Expected e) {
  e.optional = true;
  return e;
}

inline Expected At(std::uint64_t ms, Expected e) {
  e.atMs = ms;
  return e;
}

inline std::string Describe(const sim::CallRecord& r) {
  std::ostringstream out;
  out << r.name << "(" << r.Text() << ") thread " << r.thread << " at " << r.timeMs << " ms";
  return out.str();
}

inline std::string Describe(const Expected& e) {
  std::ostringstream out;
  out << e.name << "(";
  for (std::size_t i = 0; i < e.args.size(); ++i) out << (i ? " " : "") << e.args[i].ToString();
  out << ")";
  if (e.atMs) out << " at " << *e.atMs << " ms";
  if (e.optional) out << " [optional]";
  return out.str();
}

inline bool Matches(const sim::CallRecord& r, const Expected& e) {
  if (r.name != e.name || r.args.size() < e.args.size()) return false;
  for (std::size_t i = 0; i < e.args.size(); ++i) {
    if (!(r.args[i] == e.args[i])) return false;
  }
  return !e.atMs || *e.atMs == r.timeMs;
}

// Compares the records whose names occur in `expected` (or in `names`, when given) with the
// expected entries, in order.
inline ::testing::AssertionResult MatchesSequence(const std::vector<sim::CallRecord>& records,
                                                  const std::vector<Expected>& expected,
                                                  std::set<std::string> names = {}) {
  if (names.empty()) {
    for (const Expected& e : expected) names.insert(e.name);
  }
  std::vector<const sim::CallRecord*> actual;
  for (const sim::CallRecord& r : records) {
    if (names.count(r.name) != 0) actual.push_back(&r);
  }
  std::size_t a = 0;
  std::size_t e = 0;
  while (e < expected.size()) {
    if (a < actual.size() && Matches(*actual[a], expected[e])) {
      ++a;
      ++e;
    } else if (expected[e].optional) {
      ++e;
    } else {
      return ::testing::AssertionFailure()
             << "at position " << e << ": expected " << Describe(expected[e]) << ", got "
             << (a < actual.size() ? Describe(*actual[a]) : std::string("the end of the record"));
    }
  }
  if (a < actual.size()) {
    return ::testing::AssertionFailure() << "after the expected sequence: unexpected " << Describe(*actual[a]);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testing_support
