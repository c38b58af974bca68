// What the simulated machine saw: every seam call and message as a typed value, and the one
// way a test makes a call fail.
#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace sim {

// One argument of a recorded call: a number or a text.
struct Arg {
  std::variant<std::int64_t, std::string> value;

  template <std::integral T>
  Arg(T n) : value(static_cast<std::int64_t>(n)) {}  // NOLINT: implicit by design
  Arg(const char* text) : value(std::string(text != nullptr ? text : "(null)")) {}  // NOLINT
  Arg(std::string text) : value(std::move(text)) {}                                 // NOLINT
  Arg(std::string_view text) : value(std::string(text)) {}                          // NOLINT

  bool IsNumber() const { return std::holds_alternative<std::int64_t>(value); }
  std::int64_t Number() const { return std::get<std::int64_t>(value); }
  const std::string& Text() const { return std::get<std::string>(value); }
  std::string ToString() const;
  bool operator==(const Arg&) const = default;
};

// A handle or pointer as a recorded number.
template <typename T>
Arg HandleArg(T* handle) {
  return Arg(static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(handle)));
}

enum class Kind {
  Call,        // a seam call the program made
  Sent,        // a message delivered synchronously to a window procedure
  Posted,      // a message taken from a thread's queue and dispatched
  Event,       // something the machine did on its own (a process ended, a box was answered)
};

struct CallRecord {
  std::string name;
  std::vector<Arg> args;
  Kind kind = Kind::Call;
  int thread = 0;          // 0 is the process's first thread, the UI thread
  std::uint64_t timeMs = 0;

  // The arguments joined by blanks, for messages and quick comparisons.
  std::string Text() const;
};

// How a chosen call fails. The error is what GetLastError (or the returned status or HRESULT)
// reports; 0 lets the service pick the usual error for that call. `partial` is what a call
// that moves data got done before it failed (bytes written), where that applies.
struct Failure {
  int occurrence = 1;  // the nth call of that name from now on (1 = the very next one)
  std::uint32_t error = 0;
  std::optional<std::uint64_t> partial{};
  int times = 1;  // how many calls in a row fail from that one on (kEveryCall: all of them)
};

inline constexpr int kEveryCall = 1 << 30;

// Failures a test has chosen, and the list of every failable call a run made.
class FailurePlan {
 public:
  void FailCall(std::string api, Failure failure);
  // Called by every failable seam call: counts it and says whether it fails this time.
  std::optional<Failure> Consult(std::string_view api);
  // Every failable call made since the plan was made, as (name, nth call of that name).
  const std::vector<std::pair<std::string, int>>& Consulted() const { return consulted_; }

 private:
  struct Pending {
    int remaining;
    Failure failure;
  };
  std::multimap<std::string, Pending, std::less<>> pending_;
  std::map<std::string, int, std::less<>> counts_;
  std::vector<std::pair<std::string, int>> consulted_;
};

}  // namespace sim
