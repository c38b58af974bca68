// What a crash of the updater must not leave behind. Without this, an unhandled exception on any
// thread, std::terminate or abort opens an error box and keeps the process, its hooks and its
// changed power policies alive until someone answers; behind the full-screen, top-most window
// with every click and key swallowed, nobody can. And a crash while the flash tool writes the
// firmware must not free the buttons, the lid and the tool's console before the tool has ended.
#pragma once

#include <atomic>
#include <type_traits>

#include "guards/power_guard.h"
#include "platform/services.h"

namespace guards {

// Everything the crash path undoes, as plain values and the calls to make, copied in before the
// lock is taken: the crash path then neither allocates nor loads anything. Written on the UI
// thread; `policiesSaved` is published last, so a crash that sees it set sees the copy.
struct CrashRestore {
  // The calls that put the legacy global policy back, and the save's copy: the six button and
  // lid policies and the active scheme's settings, all plain values.
  win::PowerRestoreCalls power;
  SavedPowerPolicies savedPolicies{};
  std::atomic<bool> policiesSaved{false};
};
static_assert(std::is_trivially_copyable_v<SavedPowerPolicies>, "copied in whole, read by a crash as it is");

// Installed first at start-up, and kept to the end of the run: an error mode that opens no box,
// Windows Error Reporting without its UI, no ghost in place of a window that stopped answering,
// room on the stack for a stack overflow's handling, and the filter. A crash then ends the
// process without any box: once the flash tool has ended, if it runs, and after undoing what
// UndoBeforeEnding names.
void InstallCrashGuard();
// Room on the calling thread's stack for the crash path, when a stack overflow is what crashed:
// each thread of the updater's calls it first.
void GuardThreadStack();

// On the UI thread, before the lock is taken: looks up everything the crash path calls.
void PrepareCrashRestore();
// After save-and-apply has stored a copy: the crash path puts that copy back.
void SetCrashRestorePolicies(const SavedPowerPolicies& saved);
// Nothing is left for a crash to restore.
void ClearCrashRestore();

// The run's flash tool, from its start until it has ended: a crash meanwhile waits for its end
// with every lock held. True from the withdrawal when the handle is the caller's again; false
// when a crash has taken it to wait on: the process is ending, and the caller keeps neither the
// handle nor goes on with the run (AwaitCrashEnd).
void PublishFlashTool(win::HANDLE process);
[[nodiscard]] bool WithdrawFlashTool();
// For a thread that must do nothing more while a crash ends the process.
[[noreturn]] void AwaitCrashEnd();

}  // namespace guards
