#include "guards/crash_guard.h"

#include "guards/bitlocker.h"
#include "guards/input_lock.h"

namespace guards {
namespace {

// abort's own exit code: what the run-time's terminate and abort end a process with.
constexpr win::UINT kAbortExitCode = 3;
// No box, neither the system's nor the run-time's: the updater's error mode from start-up to
// the end, which the flash tool inherits as well.
constexpr win::UINT kNoBoxErrorMode = win::SEM_FAILCRITICALERRORS | win::SEM_NOGPFAULTERRORBOX | win::SEM_NOOPENFILEERRORBOX;
// What the crash path needs when a stack overflow brought it on: the filter, the wait, the
// unhooking and powrprof's registry writes, with room to spare.
constexpr win::ULONG kCrashStackBytes = 64 * 1024;

CrashRestore g_restore;
std::atomic<win::HANDLE> g_flashTool = nullptr;
std::atomic<bool> g_ending = false;

// Every step a crash undoes before the process ends, over the values copied in beforehand.
// Runs on the crashing thread once the flash tool (if it ran) has ended.
void UndoBeforeEnding(const CrashRestore& restore) {
  UnhookInputLockNow();
  if (restore.policiesSaved.load(std::memory_order_acquire)) RestorePowerSilently(restore.power, restore.savedPolicies);
  // A suspension of BitLocker that no flash has made necessary yet.
  ResumeBitLockerAfterCrash();
}

// Runs on the crashing thread, in whatever state the process is: it allocates nothing, shows and
// writes no text, and waits for no other thread. Those run on meanwhile: the hook thread keeps
// the input locked, the window keeps the screen covered (if its thread is not the one that
// crashed), and the worker waits for the tool as before.
[[noreturn]] void EndAfterCrash(win::UINT exitCode) {
  if (g_ending.exchange(true)) {
    // Another thread crashed as well and is already ending the process: its end is this one's.
    AwaitCrashEnd();
  }
  // A tool that writes the firmware is not interrupted, nor is the machine unlocked under it.
  if (const win::HANDLE tool = g_flashTool.exchange(nullptr); tool != nullptr) {
    win::WaitForSingleObject(tool, win::INFINITE);
  }
  UndoBeforeEnding(g_restore);
  win::TerminateProcess(win::GetCurrentProcess(), exitCode);
  AwaitCrashEnd();  // the system ends the process; nothing of it runs on
}

win::LONG BIOSUPDATE_CALLBACK OnUnhandledException(win::EXCEPTION_POINTERS* exception) {
  EndAfterCrash(exception != nullptr && exception->ExceptionRecord != nullptr ? exception->ExceptionRecord->ExceptionCode
                                                                               : win::EXCEPTION_ACCESS_VIOLATION);
}

void OnRunTimeFailure() { EndAfterCrash(kAbortExitCode); }

}  // namespace

void InstallCrashGuard() {
  g_ending = false;
  g_flashTool = nullptr;
  ClearCrashRestore();
  win::SetErrorMode(kNoBoxErrorMode);
  win::WerSetFlags(win::WER_FAULT_REPORTING_NO_UI);
  win::DisableProcessWindowsGhosting();
  GuardThreadStack();
  win::SetUnhandledExceptionFilter(&OnUnhandledException);
  win::SetCrtFailureHandler(&OnRunTimeFailure);
}

void GuardThreadStack() {
  win::ULONG bytes = kCrashStackBytes;
  win::SetThreadStackGuarantee(&bytes);
}

void PrepareCrashRestore() { g_restore.power = win::ResolvePowerRestoreCalls(); }

void SetCrashRestorePolicies(const SavedPowerPolicies& saved) {
  if (!saved.saved) return;
  g_restore.policiesSaved.store(false, std::memory_order_release);
  g_restore.savedPolicies = saved;
  g_restore.policiesSaved.store(true, std::memory_order_release);
}

void ClearCrashRestore() { g_restore.policiesSaved.store(false, std::memory_order_release); }

void PublishFlashTool(win::HANDLE process) { g_flashTool.store(process); }

bool WithdrawFlashTool() { return g_flashTool.exchange(nullptr) != nullptr; }

void AwaitCrashEnd() {
  for (;;) win::Sleep(win::INFINITE);
}

}  // namespace guards
