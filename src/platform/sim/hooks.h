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
  int thread;  // the simulated thread that installed it: the one that must answer its calls
};

// How long the system waits for a low-level hook's thread to take an event (Windows 7 and
// later, LowLevelHooksTimeout unset). A hook whose thread does not answer in time is removed
// without a word, and the event goes on as if the hook had never been there.
inline constexpr std::uint64_t kLowLevelHooksTimeoutMs = 300;

class Hooks {
 public:
  // ----- for tests -----
  const std::vector<InstalledHook>& Installed() const { return installed_; }
  int InstalledCount(int kind) const;
  int everInstalled = 0;
  // Every hook's life in virtual time, from its installation to its removal (or the end of its
  // process), in the order of installation.
  struct Life {
    win::HHOOK handle;
    int kind;
    std::uint64_t fromMs;
    std::uint64_t toMs;
  };
  const std::vector<Life>& Lives() const { return lives_; }

  // ----- for the services -----
  win::HHOOK Install(int kind, win::HOOKPROC procedure, win::HINSTANCE module, win::DWORD threadId);
  bool Remove(win::HHOOK hook);
  // The hook that gets an event of that kind first (the one installed last), or null.
  const InstalledHook* First(bool keyboard) const;
  // Calls a hook with an event; true when it swallowed it (its answer was not zero).
  static bool Call(const InstalledHook& hook, win::UINT message);
  // The system gave up on a hook whose thread did not answer.
  void TimeOut(win::HHOOK hook);
  int timedOut = 0;
  // What the hook after `hook` in its chain answers (0 when none is left).
  win::LRESULT CallNext(win::HHOOK hook, int code, win::WPARAM wParam, win::LPARAM lParam);
  // The system removes a process's hooks when it ends; a test sees how many were left to it.
  void EndProcess();
  int leftAtProcessEnd = 0;

 private:
  void Ended(win::HHOOK hook);

  std::vector<InstalledHook> installed_;
  std::vector<Life> lives_;
  std::uintptr_t nextHandle_ = 0x5000;
};

}  // namespace sim
