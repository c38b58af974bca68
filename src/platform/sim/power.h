// The machine's power management: the global power policy and the active scheme.
#pragma once

#include <cstdint>
#include <map>
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

  // Requests to keep the machine on (SetThreadExecutionState with ES_CONTINUOUS): the state
  // each thread holds now, and every change in order.
  struct ExecutionStateChange {
    std::uint64_t atMs;
    int thread;
    win::DWORD state;
  };
  const std::vector<ExecutionStateChange>& ExecutionStateChanges() const { return stateChanges_; }
  // Whether any thread keeps the system (or the display) on.
  bool KeptAwake() const;
  // The system drops a process's requests when it ends; a test sees whether one was left to it.
  bool awakeAtProcessEnd = false;

  // ----- for the services -----
  void Write(const win::GLOBAL_POWER_POLICY& written, win::UINT scheme);
  win::DWORD SetExecutionState(int thread, win::DWORD flags);
  void EndProcess();

 private:
  std::vector<PolicyWrite> writes_;
  std::map<int, win::DWORD> executionStates_;
  std::vector<ExecutionStateChange> stateChanges_;
};

}  // namespace sim
