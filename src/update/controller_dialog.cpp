#include "update/controller_dialog.h"

#include <iterator>
#include <utility>

#include "app/working_folder.h"
#include "guards/companion.h"
#include "guards/crash_guard.h"
#include "guards/input_lock.h"
#include "platform/services.h"
#include "ui/message_box.h"
#include "ui/painting.h"
#include "ui/texts.h"
#include "update/update_worker.h"

namespace update {
namespace {

constexpr win::UINT kConfirmFlags = win::MB_YESNO | win::MB_ICONEXCLAMATION;
constexpr win::LRESULT kHandled = 0;

}  // namespace

const win::MessageMapEntry<CBiosUpdateDlg> CBiosUpdateDlg::kMessageMap[] = {
    {kFinishMessage, &CBiosUpdateDlg::OnFinish},
    {kQuitMessage, &CBiosUpdateDlg::OnQuit},
    {win::WM_POWERBROADCAST, &CBiosUpdateDlg::OnPowerBroadcast},
    {win::WM_CLOSE, &CBiosUpdateDlg::OnClose},
    {win::WM_QUERYDRAGICON, &CBiosUpdateDlg::OnQueryDragIcon},
    {win::WM_TIMER, &CBiosUpdateDlg::OnTimer},
    {win::WM_QUERYENDSESSION, &CBiosUpdateDlg::OnQueryEndSession},
    {win::WM_ENDSESSION, &CBiosUpdateDlg::OnEndSession},
    {win::WM_PAINT, &CBiosUpdateDlg::OnPaint},
    {win::WM_CTLCOLORDLG, &CBiosUpdateDlg::OnCtlColor},
    {win::WM_DESTROY, &CBiosUpdateDlg::OnDestroy},
};

CBiosUpdateDlg::CBiosUpdateDlg()
    : CDialog(kControllerDialogTemplateId),
      m_icon(win::LoadIconA(win::AfxGetInstanceHandle(), kWindowIconResourceId)) {}

CBiosUpdateDlg::~CBiosUpdateDlg() { guards::ClearCrashRestore(); }

// ----- initialisation -----

win::BOOL CBiosUpdateDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  SetIcon(m_icon, win::TRUE);
  SetIcon(m_icon, win::FALSE);
  // A tool window has no task-bar button.
  ModifyStyleEx(win::WS_EX_APPWINDOW, win::WS_EX_TOOLWINDOW);

  m_messageText = ui::UiText(ui::TextId::WindowTitle);
  SetWindowTextA(m_messageText.c_str());

  if (!ConfirmUpdate()) {
    // Nothing has been locked yet; only what an earlier run may have left is removed.
    QuitAfterCleanUp();
    return win::FALSE;
  }
  // Before anything is locked: what a crash would need later is looked up now.
  guards::PrepareCrashRestore();
  const bool applied = guards::PowerSchemeGuard(guards::kPowerSaveAndApply, m_savedPolicies, m_hWnd);
  guards::SetCrashRestorePolicies(m_savedPolicies);
  if (!applied) {
    // The guard has said what failed. Nothing else is locked yet; without this the window
    // would wait for ever with nothing to end it. The global policy may be on "do nothing"
    // already when the power settings failed after it: that goes back first.
    if (m_savedPolicies.applied) guards::PowerSchemeGuard(guards::kPowerRestore, m_savedPolicies, m_hWnd);
    QuitAfterCleanUp();
    return win::FALSE;
  }
  LockMachine();
  app::ExtractFlashTool();
  CoverScreen();

  win::Sleep(kBeforeFirstStatusMs);
  m_messageText = ui::UiText(ui::TextId::StatusInitializing);
  SetStatusText(m_messageText);
  Invalidate(win::FALSE);

  if (SetTimer(kStartTimer, kStartTimerMs) == 0) {
    // Without the start timer nothing would ever start the update or end the window: undo
    // the locks and end now.
    UnlockMachine();
    QuitAfterCleanUp();
  }
  return win::TRUE;
}

bool CBiosUpdateDlg::ConfirmUpdate() {
  m_messageText = ui::UiText(ui::TextId::ConfirmBody);
  const int answer = ui::WindowMessageBox(m_hWnd, m_messageText.c_str(),
                                          ui::UiText(ui::TextId::ConfirmCaption), kConfirmFlags);
  return answer != win::IDNO;
}

void CBiosUpdateDlg::LockMachine() {
  guards::KeepSystemAwake();
  guards::InstallInputLock(m_hWnd);
  guards::StopCompanion();
}

// The whole screen, above every other window, the flash tool's console included.
void CBiosUpdateDlg::CoverScreen() {
  SetWindowPos(win::HWND_TOPMOST, 0, 0, win::GetSystemMetrics(win::SM_CXSCREEN),
               win::GetSystemMetrics(win::SM_CYSCREEN), win::SWP_SHOWWINDOW);
}

// ----- the update start, on the first tick of the start timer -----

void CBiosUpdateDlg::StartUpdate() {
  m_runningBiosVersion = QueryBiosVersion(m_wmi);
  app::ExtractCapsule(m_capsuleName);
  // The worker deletes itself when its thread ends; once started it is not touched here again.
  auto* worker = new CHWDriverDownloadThread(this);
  if (worker->CreateThread() == win::FALSE) {
    delete worker;
    // Nothing will post the finish message: undo the locks here before quitting.
    UnlockMachine();
    QuitAfterCleanUp();
  }
}

void CBiosUpdateDlg::AdvanceAnimation() {
  m_animationCounter = m_animationCounter >= kAnimationFrames - 1 ? 0 : m_animationCounter + 1;
  // While a box of the window's own is open (it disables the window), the window does not
  // take the top of the screen back: it would cover the box, which nobody could then see or
  // answer (Wine stacks a topmost owner above its own box).
  if (win::IsWindowEnabled(m_hWnd) != win::FALSE) CoverScreen();
  Invalidate(win::FALSE);
  MatchShutdownBlockReason();
}

// ----- the end -----

void CBiosUpdateDlg::UnlockMachine() {
  // A restore that fails is tried once more, since a passing failure must not leave the power
  // button and the lid doing nothing for good. What still fails is told only once the input
  // lock is gone: with it, nobody could answer the box, and the restart after a flash would
  // never come.
  guards::GuardOutcome restore = guards::ApplyPowerScheme(guards::kPowerRestore, m_savedPolicies);
  if (!restore.succeeded) restore = guards::ApplyPowerScheme(guards::kPowerRestore, m_savedPolicies);
  guards::LetSystemSleep();
  guards::RemoveInputLock();
  if (restore.failure) guards::TellPowerFailure(m_hWnd, *restore.failure);
  guards::RelaunchCompanion();
}

void CBiosUpdateDlg::QuitAfterCleanUp() {
  app::CleanUpWorkingFolder();
  PostMessageA(kQuitMessage);
}

// Only the window's own thread may give or take back the reason, so it follows the worker's
// flag here: at each animation tick, at a session-end query and at the finish. It is asked for
// once per run of the tool; a refused reason stops nothing, the refusal itself holds.
void CBiosUpdateDlg::MatchShutdownBlockReason() {
  const bool running = m_flashToolRunning.load();
  if (running && !m_blockReasonAsked) {
    m_blockReasonAsked = true;
    const std::u16string reason = ui::UiWideText(ui::TextId::ShutdownBlockReason);
    m_blockReasonGiven = !reason.empty() && win::ShutdownBlockReasonCreate(m_hWnd, reason.c_str()) != win::FALSE;
  } else if (!running && m_blockReasonAsked) {
    if (m_blockReasonGiven) win::ShutdownBlockReasonDestroy(m_hWnd);
    m_blockReasonAsked = false;
    m_blockReasonGiven = false;
  }
}

// ----- messages -----

win::LRESULT CBiosUpdateDlg::WindowProc(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  win::LRESULT result = 0;
  if (win::DispatchMessageMap(*this, kMessageMap, message, wParam, lParam, &result)) return result;
  return CDialog::WindowProc(message, wParam, lParam);
}

win::LRESULT CBiosUpdateDlg::OnFinish(win::WPARAM wParam, win::LPARAM lParam) {
  m_finished = true;
  // A refusal has armed the quit timer too. Its tick would post the quit message inside the
  // loop of a box the finish may show (a restore that still fails) and close that box before
  // anyone read it; the finish does the timer's work itself.
  KillTimer(kQuitTimer);
  MatchShutdownBlockReason();
  UnlockMachine();
  app::CleanUpWorkingFolder();
  if (wParam == kFinishWithRestart) {
    KillTimer(kAnimationTimer);
    guards::RestartComputer();
  }
  win::PostQuitMessage(kQuitExitCode);
  return DefaultHandling(kFinishMessage, wParam, lParam);
}

win::LRESULT CBiosUpdateDlg::OnQuit(win::WPARAM wParam, win::LPARAM lParam) {
  win::PostQuitMessage(kQuitExitCode);
  return DefaultHandling(kQuitMessage, wParam, lParam);
}

// No suspend while the window exists.
win::LRESULT CBiosUpdateDlg::OnPowerBroadcast(win::WPARAM wParam, win::LPARAM lParam) {
  if (wParam == win::PBT_APMQUERYSUSPEND || wParam == win::PBT_APMSUSPEND) return win::BROADCAST_QUERY_DENY;
  return DefaultHandling(win::WM_POWERBROADCAST, wParam, lParam);
}

// A close request restores what can be restored but never closes: an update may be running.
win::LRESULT CBiosUpdateDlg::OnClose(win::WPARAM, win::LPARAM) {
  app::CleanUpWorkingFolder();
  const bool restored = guards::PowerSchemeGuard(guards::kPowerRestore, m_savedPolicies, m_hWnd);
  win::OutputDebugStringA(ui::DebugLine(restored ? ui::DebugLineId::CloseGuardRestored
                                                 : ui::DebugLineId::CloseGuardFailed));
  return kHandled;
}

win::LRESULT CBiosUpdateDlg::OnQueryDragIcon(win::WPARAM, win::LPARAM) {
  return reinterpret_cast<win::LRESULT>(m_icon);
}

win::LRESULT CBiosUpdateDlg::OnTimer(win::WPARAM timer, win::LPARAM lParam) {
  if (timer == kStartTimer) {
    SetTimer(kAnimationTimer, kAnimationTimerMs);
    KillTimer(kStartTimer);
    StartUpdate();
  } else if (timer == kAnimationTimer) {
    AdvanceAnimation();
  } else if (timer == kQuitTimer) {
    // The worker arms this timer before it posts the finish message. Should that message
    // never arrive, the locks must not outlive the program. The timer goes first, as in the
    // finish: its next tick would post the quit message inside the loop of a box the unlock may
    // show (a restore that still fails) and close that box before anyone read it.
    KillTimer(kQuitTimer);
    const bool finished = std::exchange(m_finished, true);
    if (!finished) UnlockMachine();
    app::CleanUpWorkingFolder();
    PostMessageA(kQuitMessage);
  }
  return DefaultHandling(win::WM_TIMER, timer, lParam);
}

// The application supports no restart manager, so a request to close for it is refused and
// restores nothing; an ordinary log-off or shut-down gets the power policies back first. While
// the flash tool runs nothing may end the session (a restart chosen on the Ctrl+Alt+Del screen,
// an update's scheduled one): it would end the tool half-way through the firmware. That refusal
// restores nothing either.
win::LRESULT CBiosUpdateDlg::OnQueryEndSession(win::WPARAM, win::LPARAM lParam) {
  if (m_flashToolRunning.load()) {
    MatchShutdownBlockReason();
    return win::FALSE;
  }
  if ((lParam & win::ENDSESSION_CLOSEAPP) != 0) return win::FALSE;
  guards::PowerSchemeGuard(guards::kPowerRestore, m_savedPolicies, m_hWnd);
  m_sessionEndAgreed = true;
  return win::TRUE;
}

// A session end agreed to above and then called off (another program refused, or the user chose
// Cancel) goes on with the update: the buttons, the lid and sleep must do nothing again. After
// the finish nothing is locked any more, and an end that goes ahead (wParam TRUE) changes nothing.
win::LRESULT CBiosUpdateDlg::OnEndSession(win::WPARAM ending, win::LPARAM lParam) {
  const bool calledOff = ending == win::FALSE && m_sessionEndAgreed;
  m_sessionEndAgreed = false;
  if (calledOff && !m_finished) {
    const guards::GuardOutcome relocked = guards::LockPowerAgain(m_savedPolicies);
    if (relocked.failure) guards::TellPowerFailure(m_hWnd, *relocked.failure);
  }
  return DefaultHandling(win::WM_ENDSESSION, ending, lParam);
}

win::LRESULT CBiosUpdateDlg::OnPaint(win::WPARAM wParam, win::LPARAM lParam) {
  if (win::IsIconic(m_hWnd) != win::FALSE) {
    ui::PaintIcon(m_hWnd, m_icon);
    return kHandled;
  }
  // The system's paint cycle first: it marks the window painted.
  DefaultHandling(win::WM_PAINT, wParam, lParam);
  ui::PaintFrame(m_hWnd, m_pictures, m_animationCounter, StatusTextCopy());
  return kHandled;
}

win::LRESULT CBiosUpdateDlg::OnCtlColor(win::WPARAM dc, win::LPARAM control) {
  DefaultHandling(win::WM_CTLCOLORDLG, dc, control);
  win::SetBkColor(reinterpret_cast<win::HDC>(dc), ui::kBlack);
  if (!m_backgroundBrush.Valid()) m_backgroundBrush = win::CBrush(win::CreateSolidBrush(ui::kBlack));
  return reinterpret_cast<win::LRESULT>(m_backgroundBrush.Get());
}

win::LRESULT CBiosUpdateDlg::OnDestroy(win::WPARAM wParam, win::LPARAM lParam) {
  m_backgroundBrush.Close();
  m_pictures.Release();
  return DefaultHandling(win::WM_DESTROY, wParam, lParam);
}

// Key presses bypass the dialog's keyboard handling: neither Enter nor Escape may end the
// dialog while the firmware is written.
win::BOOL CBiosUpdateDlg::PreTranslateMessage(win::MSG* msg) {
  if (msg->message == win::WM_KEYDOWN || msg->message == win::WM_SYSKEYDOWN) return win::FALSE;
  return CDialog::PreTranslateMessage(msg);
}

}  // namespace update
