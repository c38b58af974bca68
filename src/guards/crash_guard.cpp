#include "guards/crash_guard.h"

#include <atomic>

#include "guards/bitlocker.h"
#include "guards/input_lock.h"
#include "platform/services.h"

namespace guards {
namespace {

// abort's own exit code: what the run-time's terminate and abort end a process with.
constexpr win::UINT kAbortExitCode = 3;

std::atomic<const SavedPowerPolicies*> g_crashRestore = nullptr;
std::atomic<bool> g_ending = false;

// Runs on the crashing thread, in whatever state the process is: it allocates nothing, shows and
// writes no text, and waits for no other thread.
[[noreturn]] void EndAfterCrash(win::UINT exitCode) {
  if (g_ending.exchange(true)) {
    // Another thread crashed as well and is already undoing the locks: its end is this one's.
    for (;;) win::Sleep(win::INFINITE);
  }
  UnhookInputLockNow();
  if (const SavedPowerPolicies* saved = g_crashRestore.load(); saved != nullptr) RestorePowerSilently(*saved);
  ResumeBitLockerAfterCrash();
  win::TerminateProcess(win::GetCurrentProcess(), exitCode);
  for (;;) win::Sleep(win::INFINITE);  // the system ends the process; nothing of it runs on
}

win::LONG BIOSUPDATE_CALLBACK OnUnhandledException(win::EXCEPTION_POINTERS* exception) {
  EndAfterCrash(exception != nullptr && exception->ExceptionRecord != nullptr ? exception->ExceptionRecord->ExceptionCode
                                                                               : win::EXCEPTION_ACCESS_VIOLATION);
}

void OnRunTimeFailure() { EndAfterCrash(kAbortExitCode); }

}  // namespace

void InstallCrashGuard() {
  g_ending = false;
  win::SetUnhandledExceptionFilter(&OnUnhandledException);
  win::SetCrtFailureHandler(&OnRunTimeFailure);
}

void SetCrashRestore(const SavedPowerPolicies* saved) { g_crashRestore = saved; }

}  // namespace guards
