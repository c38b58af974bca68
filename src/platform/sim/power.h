// The machine's power management: the global power policy and the active scheme.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win_types.h"

namespace sim {

struct PolicyWrite {
  std::uint64_t atMs;
  win::GLOBAL_POWER_POLICY policy;
  win::UINT scheme;
};

class Power {
 public:
  Power();

  // ----- for tests -----
  bool userMayWrite = true;
  win::GLOBAL_POWER_POLICY policy;
  win::UINT activeScheme = 0;
  const std::vector<PolicyWrite>& Writes() const { return writes_; }
  // A policy of the kind a laptop ships with: buttons and lid do something, every field set.
  static win::GLOBAL_POWER_POLICY TypicalPolicy();

  // ----- for the services -----
  void Write(const win::GLOBAL_POWER_POLICY& written, win::UINT scheme);

 private:
  std::vector<PolicyWrite> writes_;
};

}  // namespace sim
