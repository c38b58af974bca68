// BitLocker on the system volume C:, as the system's manage-bde.exe reports and changes it.
// manage-bde exists only as a 64-bit program in the 64-bit system folder; a 32-bit process
// reaches it through Sysnative.
//
// The commands it answers, as Windows 8 and later document them:
//   -status C: -ProtectionAsErrorLevel      ends 0 when protection is on, 1 when it is not
//   -protectors -disable C: -RebootCount N  suspends for N restarts (0: until resumed), ends 0
//   -protectors -enable C:                  resumes, ends 0
// Anything else, or another drive, ends with an error code.
#pragma once

#include <optional>
#include <string>

namespace sim {

class Processes;

enum class Protection { Off, On, Suspended };

class BitLocker {
 public:
  explicit BitLocker(Processes& processes);

  static constexpr const char* kManageBdePath = "C:\\Windows\\System32\\manage-bde.exe";

  // ----- for tests -----
  Protection protection = Protection::Off;
  // While suspended: the restarts left before Windows turns protection on again; 0 means
  // never (until someone resumes it).
  int rebootCount = 0;
  bool refusesSuspension = false;       // -disable ends with an error, nothing changes
  bool suspensionDoesNotHold = false;   // -disable ends 0, protection stays on
  bool hasRebootCount = true;           // false: Windows 7's manage-bde, which has no -RebootCount
  std::optional<int> statusExitCode;    // a status that ends with this code whatever the state
  void RemoveManageBde();               // an edition without it
  // Protection off with nothing to turn it on again: the disk is open until someone notices.
  bool LeftOffWithoutCount() const { return protection == Protection::Suspended && rebootCount == 0; }

 private:
  int Answer(const std::string& commandLine);
  Processes& processes_;
};

}  // namespace sim
