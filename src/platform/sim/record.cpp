#include "platform/sim/record.h"

namespace sim {

std::string Arg::ToString() const { return IsNumber() ? std::to_string(Number()) : Text(); }

std::string CallRecord::Text() const {
  std::string text;
  for (const Arg& arg : args) {
    if (!text.empty()) text += ' ';
    text += arg.ToString();
  }
  return text;
}

void FailurePlan::FailCall(std::string api, Failure failure) {
  pending_.emplace(std::move(api), Pending{failure.occurrence, failure});
}

std::optional<Failure> FailurePlan::Consult(std::string_view api) {
  const int nth = ++counts_[std::string(api)];
  consulted_.emplace_back(std::string(api), nth);
  auto [first, last] = pending_.equal_range(api);
  for (auto it = first; it != last; ++it) {
    if (--it->second.remaining == 0) {
      const Failure failure = it->second.failure;
      if (--it->second.failure.times > 0) {
        it->second.remaining = 1;  // the next call of that name fails too
      } else {
        pending_.erase(it);
      }
      return failure;
    }
  }
  return std::nullopt;
}

}  // namespace sim
