// The update worker: on a thread of its own, finds the capsule, decides by the model and the
// version rules, flashes when allowed, records the update marker and hands the end to the
// window with the finish message.
#pragma once

#include <cstdint>
#include <string>

#include "platform/framework.h"
#include "update/version_verdict.h"

namespace update {

class CBiosUpdateDlg;

inline constexpr win::DWORD kStartDelayMs = 1000;
inline constexpr win::DWORD kLoadingDelayMs = 2000;
inline constexpr win::DWORD kStepPauseMs = 2000;
inline constexpr win::DWORD kRefusalPauseMs = 3000;       // capsule missing, wrong model
inline constexpr win::DWORD kVersionRefusalPauseMs = 5000;  // newer, same
inline constexpr win::DWORD kPowerRefusalPauseMs = 5000;    // no mains power, battery low
inline constexpr win::DWORD kBeforeFlashPauseMs = 1000;
inline constexpr win::DWORD kBitLockerRefusalPauseMs = 5000;
inline constexpr int kFinishPostAttempts = 10;
inline constexpr win::DWORD kFinishRetryPauseMs = 100;
inline constexpr const char* kMarkerKey = ".DEFAULT\\Software\\NRVK\\BIOSUPDATE\\Parameters";
inline constexpr const char* kMarkerValueName = "Version";
inline constexpr const char* kMarkerValue = "1.15.1404.0702";
// The value's characters without a terminating NUL.
inline constexpr win::DWORD kMarkerByteCount = 14;

class CHWDriverDownloadThread : public win::CWinThread {
 public:
  explicit CHWDriverDownloadThread(CBiosUpdateDlg* owner) : m_owner(owner) {}

  // Waits the start delay, runs the update sequence, and returns false: no message loop.
  win::BOOL InitInstance() override;

  // The first entry the search reports whose name is not "." or ".."; its name as stored on
  // disk, or empty.
  static std::string FindCapsule(const std::string& pattern);
  // Sets "Version" under the marker key; true when the value was set.
  static bool WriteUpdateMarker();

 private:
  void RunUpdateSequence();
  void ShowStatus(std::string text);
  void ShowStatus(const char* text) { ShowStatus(std::string(text)); }
  // Marker, refusal text, pause, quit timer, finish without restart.
  void Refuse(const char* text, win::DWORD pauseMs);
  void Finish(win::WPARAM restart);
  // Waits until the schedule, advanced by `ms`, is due. Every wait is counted from the thread's
  // start, so the time the steps themselves take (a paint, a registry write, naming a folder)
  // does not add up from one step to the next.
  void Wait(win::DWORD ms);
  // The schedule goes on from now: a step of unknown length (an outside program) has run, and
  // the pause after it is to be whole.
  void RestartScheduleFromNow();
  // True when the flash may start: BitLocker not protecting the system volume, or suspended for
  // the restart. Otherwise the run is refused.
  bool SuspendBitLocker();

  CBiosUpdateDlg* m_owner;
  std::uint64_t m_startedMs = 0;
  std::uint64_t m_scheduleMs = 0;
  std::string m_foundCapsuleName;
  std::string m_versionPrefix;
};

// Upper-cases by the system code page's rules.
std::string UpperCased(std::string text);

}  // namespace update
