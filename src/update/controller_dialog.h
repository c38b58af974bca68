// The controller window: the program's only window, which conducts the whole update.
#pragma once

#include <atomic>
#include <string>

#include "guards/power_guard.h"
#include "platform/framework.h"
#include "platform/gdi.h"
#include "resource.h"
#include "ui/painting.h"
#include "update/bios_identity.h"
#include "update/status_text.h"

namespace update {

inline constexpr win::UINT kControllerDialogTemplateId = IDD_BIOSUPDATE_DIALOG;
inline constexpr int kWindowIconResourceId = IDI_MAINFRAME;

// Timers of the window.
inline constexpr win::UINT_PTR kStartTimer = 0x800;
inline constexpr win::UINT kStartTimerMs = 500;
inline constexpr win::UINT_PTR kAnimationTimer = 0x805;
inline constexpr win::UINT kAnimationTimerMs = 100;
inline constexpr win::UINT_PTR kQuitTimer = 0xF5F;
inline constexpr win::UINT kQuitTimerMs = 3000;

// Posted by the worker: undo the locks and end, restarting the computer when wParam says so.
inline constexpr win::UINT kFinishMessage = win::WM_USER + 0x406;
inline constexpr win::WPARAM kFinishWithRestart = 100;
inline constexpr win::WPARAM kFinishWithoutRestart = 0;
// Posted by the window to itself to end its modal loop.
inline constexpr win::UINT kQuitMessage = win::WM_USER + 0x407;
inline constexpr int kQuitExitCode = 0;

inline constexpr win::DWORD kBeforeFirstStatusMs = 500;
inline constexpr int kAnimationFrames = 32;

class CBiosUpdateDlg : public win::CDialog {
 public:
  CBiosUpdateDlg();
  ~CBiosUpdateDlg() override;

  // What the worker reads and writes, from its own thread.
  const std::string& RunningBiosVersion() const { return m_runningBiosVersion; }
  const std::string& CapsuleName() const { return m_capsuleName; }
  void SetStatusText(std::string text) { m_statusText.Set(std::move(text)); }
  std::string StatusTextCopy() const { return m_statusText.Get(); }
  int AnimationCounter() const { return m_animationCounter; }
  // From the worker's thread: the flash tool is about to start (true), or it has ended or
  // could not start (false). Meanwhile the window refuses the end of the Windows session.
  void SetFlashToolRunning(bool running) { m_flashToolRunning.store(running); }

 protected:
  win::BOOL OnInitDialog() override;
  win::LRESULT WindowProc(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) override;
  win::BOOL PreTranslateMessage(win::MSG* msg) override;

 private:
  // Message handlers, one per entry of the message map.
  win::LRESULT OnFinish(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnQuit(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnPowerBroadcast(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnClose(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnQueryDragIcon(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnTimer(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnQueryEndSession(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnEndSession(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnPaint(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnCtlColor(win::WPARAM wParam, win::LPARAM lParam);
  win::LRESULT OnDestroy(win::WPARAM wParam, win::LPARAM lParam);

  static const win::MessageMapEntry<CBiosUpdateDlg> kMessageMap[];

  bool ConfirmUpdate();
  void LockMachine();
  void CoverScreen();
  void StartUpdate();
  void AdvanceAnimation();
  // Undoes what the initialisation locked: power policies, input, companion program.
  void UnlockMachine();
  void QuitAfterCleanUp();
  // Gives Windows the reason for refusing the end of the session while the flash tool runs, and
  // takes it back once the tool has ended.
  void MatchShutdownBlockReason();

  guards::SavedPowerPolicies m_savedPolicies;
  std::string m_runningBiosVersion;
  StatusText m_statusText;
  int m_animationCounter = 0;
  // Working text for the title, the question and the first status text before they are used.
  std::string m_messageText;
  std::string m_capsuleName;
  WmiConnection m_wmi;
  win::HICON m_icon;
  // The window's background: made at the first request, deleted with the window.
  win::CBrush m_backgroundBrush;
  ui::FramePictures m_pictures;
  bool m_finished = false;
  // The last end-of-session query was agreed to, and its WM_ENDSESSION has not come yet.
  bool m_sessionEndAgreed = false;
  std::atomic<bool> m_flashToolRunning{false};
  // The reason was asked for during this run of the flash tool, and Windows took it.
  bool m_blockReasonAsked = false;
  bool m_blockReasonGiven = false;
};

}  // namespace update
