// System-wide low-level keyboard and mouse hooks of the simulated machine.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win_types.h"

namespace sim {

struct InstalledHook {
  win::HHOOK handle;
  int kind;  // WH_KEYBOARD_LL or WH_MOUSE_LL
  win::HOOKPROC procedure;
  win::HINSTANCE module;
  win::DWORD threadId;
};

class Hooks {
 public:
  // ----- for tests -----
  const std::vector<InstalledHook>& Installed() const { return installed_; }
  int InstalledCount(int kind) const;
  int everInstalled = 0;

  // ----- for the services -----
  win::HHOOK Install(int kind, win::HOOKPROC procedure, win::HINSTANCE module, win::DWORD threadId);
  bool Remove(win::HHOOK hook);
  // Passes an event down the chain, the hook installed last first; true when one swallowed it.
  bool Run(bool keyboard, win::UINT message);
  // What the hook after `hook` in its chain answers (0 when none is left).
  win::LRESULT CallNext(win::HHOOK hook, int code, win::WPARAM wParam, win::LPARAM lParam);
  // The system removes a process's hooks when it ends; a test sees how many were left to it.
  void EndProcess() {
    leftAtProcessEnd = static_cast<int>(installed_.size());
    installed_.clear();
  }
  int leftAtProcessEnd = 0;

 private:
  std::vector<InstalledHook> installed_;
  std::uintptr_t nextHandle_ = 0x5000;
};

}  // namespace sim
