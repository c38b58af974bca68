// BitLocker and the restart after a flash. A new firmware changes what the TPM measures of the
// early boot, so on a protected system volume the first start after the update would stop at the
// recovery screen and ask for the 48-digit key. Protection is suspended for exactly one restart
// (Windows turns it on again by itself once that restart has used the count), and put back when
// the run does not reach its restart.
//
// The system's own manage-bde.exe does it, started by its full path under the Windows folder:
// it exists only as a 64-bit program, which a 32-bit process reaches through Sysnative (its
// System32 is SysWOW64, where there is none). It is started directly, not through cmd.exe: its
// exit code is the answer, and an interpreter would only add a process that parses the line and
// runs the user's AutoRun commands with this program's rights.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/win_types.h"

namespace guards {

inline constexpr const char* kManageBdeFileName = "manage-bde.exe";
inline constexpr std::size_t kMaxManageBdeLine = 2 * win::MAX_PATH;

// The three command lines for the drive of a Windows folder, in plain buffers: the crash path
// starts the last one as it is, without building or allocating anything.
struct BitLockerCommands {
  char manageBde[win::MAX_PATH];
  char windowsFolder[win::MAX_PATH];  // where manage-bde runs
  char status[kMaxManageBdeLine];
  char suspend[kMaxManageBdeLine];
  char resume[kMaxManageBdeLine];
};

// For a Windows folder such as "C:\Windows": manage-bde under its Sysnative folder for a 32-bit
// process, under System32 for a 64-bit one, and the lines for the folder's drive. Nothing when
// the folder names no drive letter or a line would not fit.
std::optional<BitLockerCommands> BitLockerCommandsFor(const std::string& windowsFolder, bool process64Bit);

enum class BitLockerStep {
  NotProtected,  // nothing to do: the volume is not protected, or there is no manage-bde
  Suspended,     // for the one restart after the flash; checked
  Failed,        // the protection state could not be told, or the suspension failed or did not hold
};

// Asks manage-bde whether the system volume is protected and, when it is, suspends protection
// for one restart and asks again: it must now say not protected.
BitLockerStep SuspendBitLockerForOneRestart();
// After a suspension was tried: turns protection on again, and waits for manage-bde.
// Nothing when none was tried.
void ResumeBitLockerIfSuspended();
// The flash tool is about to start: from now on a crash leaves the suspension for the restart
// (the firmware may already be changing); a tool that cannot be started still resumes.
void KeepBitLockerSuspended();
// For the crash path: starts the resume when a suspension was tried and is not yet kept or
// resumed; allocates nothing and does not wait.
void ResumeBitLockerAfterCrash();

}  // namespace guards
