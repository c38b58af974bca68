#include "guards/input_lock.h"

#include <atomic>

#include "guards/crash_guard.h"
#include "platform/framework.h"
#include "platform/handle.h"
#include "platform/services.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace guards {

std::atomic<win::HHOOK> g_keyboardHook = nullptr;
std::atomic<win::HHOOK> g_mouseHook = nullptr;

namespace {

// A non-zero answer ends the event: no later hook and no window sees it.
constexpr win::LRESULT kSwallow = 1;
// Low-level hooks watch every thread of the desktop.
constexpr win::DWORD kAllThreads = 0;
// The hook thread has nothing to do but install two hooks and enter its loop; should it not
// have reported by then, it is called off and the lock is told as failed rather than the
// update held up.
constexpr win::DWORD kHookThreadStartMs = 5000;
// It ends as soon as it has removed the hooks.
constexpr win::DWORD kHookThreadEndMs = 5000;
// Windows removes a low-level hook whose thread misses its time-out, without a word and for
// good (a page fault or a busy disk is enough). While the lock stands, the thread installs its
// hooks anew this often, so that a hook lost that way is back within the time-out's second.
constexpr win::UINT kRenewHooksEveryMs = 500;
// SetTimer without a window: the system picks the timer's id.
constexpr win::UINT_PTR kNewThreadTimer = 0;
constexpr win::BOOL kManualReset = win::TRUE;
constexpr win::BOOL kNotSet = win::FALSE;

// Where the hook thread stands at its start. Exactly one side wins: the thread, which reports
// that it services its hooks, or the installation, which gives up waiting and calls it off.
enum class Phase { Starting, Servicing, CalledOff };

void Unhook(win::HHOOK hook) {
  if (hook != nullptr) win::UnhookWindowsHookEx(hook);
}

// Set once the lock is being removed (or a crash unhooks it): no hook is installed anew after.
std::atomic<bool> g_renewalsStopped = false;

// The new hook first, then the old one removed, so that no event slips between the two; a new
// one that cannot be installed leaves the old in place. A hook that was never installed stays
// so: its failure was told, and the lock goes on without it.
win::HHOOK Renewed(int kind, win::HOOKPROC procedure, win::HHOOK old, std::atomic<win::HHOOK>& published) {
  if (old == nullptr) return nullptr;
  const win::HHOOK fresh = win::SetWindowsHookExA(kind, procedure, win::AfxGetInstanceHandle(), kAllThreads);
  if (fresh == nullptr) return old;
  published = fresh;
  Unhook(old);  // the system may have taken it already
  return fresh;
}

// The system calls a low-level hook on the thread that installed it, and only while that thread
// asks for messages; a thread that does not answer within the system's time-out loses its hook
// without a word (at most one second from Windows 10 1709 on). The UI thread blocks for seconds
// at a time (the pauses, the commands, the identity query, the capsule's writing, every message
// box), so the hooks live on a thread of their own that does nothing but wait for messages, at
// the highest priority, so that a busy machine (the flash itself, a virus scan of the files just
// written) does not make it miss the time-out.
class CInputLockThread : public win::CWinThread {
 public:
  CInputLockThread() : reported_(win::CreateEventA(nullptr, kManualReset, kNotSet, nullptr)) { m_bAutoDelete = win::FALSE; }

  bool CanReport() const { return reported_.Valid(); }
  win::HANDLE Reported() const { return reported_.Get(); }
  // True when the thread had not reported yet: from now on it keeps no hook.
  bool CallOff() {
    Phase starting = Phase::Starting;
    return phase_.compare_exchange_strong(starting, Phase::CalledOff);
  }

  win::BOOL InitInstance() override {
    GuardThreadStack();
    win::SetThreadPriority(win::GetCurrentThread(), win::THREAD_PRIORITY_TIME_CRITICAL);
    const win::HINSTANCE self = win::AfxGetInstanceHandle();
    if (phase_ == Phase::Starting) keyboard_ = win::SetWindowsHookExA(win::WH_KEYBOARD_LL, &KeyboardHookProc, self, kAllThreads);
    if (phase_ == Phase::Starting) mouse_ = win::SetWindowsHookExA(win::WH_MOUSE_LL, &MouseHookProc, self, kAllThreads);
    // The removal is a message to this thread: it must have a queue before anyone posts.
    win::EnsureMessageQueue();
    // Published before the report, so that whoever sees the report sees the handles.
    g_keyboardHook = keyboard_;
    g_mouseHook = mouse_;
    Phase starting = Phase::Starting;
    if (!phase_.compare_exchange_strong(starting, Phase::Servicing)) {
      // Too late: the installation has given up on this thread and told the lock as failed.
      // Nothing of it may stay.
      g_keyboardHook.compare_exchange_strong(keyboard_, nullptr);
      g_mouseHook.compare_exchange_strong(mouse_, nullptr);
      return win::FALSE;  // ExitInstance unhooks
    }
    // Without its timer the lock still stands, only without renewals.
    renewTimer_ = win::SetTimer(nullptr, kNewThreadTimer, kRenewHooksEveryMs, nullptr);
    win::SetEvent(reported_.Get());
    return win::TRUE;
  }

  win::BOOL PreTranslateMessage(win::MSG* msg) override {
    if (msg->message != win::WM_TIMER || msg->hwnd != nullptr || msg->wParam != renewTimer_ || renewTimer_ == 0) {
      return win::FALSE;
    }
    if (!g_renewalsStopped) {
      keyboard_ = Renewed(win::WH_KEYBOARD_LL, &KeyboardHookProc, keyboard_, g_keyboardHook);
      mouse_ = Renewed(win::WH_MOUSE_LL, &MouseHookProc, mouse_, g_mouseHook);
    }
    return win::TRUE;
  }

  // After the quit request, or when called off: the hooks go with the thread that installed them.
  int ExitInstance() override {
    if (renewTimer_ != 0) win::KillTimer(nullptr, renewTimer_);
    Unhook(keyboard_);
    Unhook(mouse_);
    return 0;
  }

 private:
  win::UniqueKernelHandle reported_;
  std::atomic<Phase> phase_ = Phase::Starting;
  win::HHOOK keyboard_ = nullptr;
  win::HHOOK mouse_ = nullptr;
  win::UINT_PTR renewTimer_ = 0;
};

// Set by the installation, taken by the one removal; the worker may remove the lock too. A run
// that ends by the quit message alone keeps its lock, thread and all, until the process ends.
std::atomic<CInputLockThread*> g_lockThread = nullptr;
// A thread that was called off, could not be told to end, or did not: it is left to the
// process's end, never deleted under its own feet.
std::atomic<CInputLockThread*> g_abandonedThread = nullptr;
std::atomic<bool> g_installed = false;

void Abandon(CInputLockThread* thread) {
  delete g_abandonedThread.exchange(thread);  // an earlier run's, on the simulated machine
}

void UnhookBoth() {
  Unhook(g_keyboardHook);
  Unhook(g_mouseHook);
}

// Starts the hook thread and waits until it has installed what it could; true when it services
// its hooks. A thread that has not reported in time is called off, and no hook of it stays.
bool StartHookThread() {
  g_renewalsStopped = false;
  g_keyboardHook = nullptr;
  g_mouseHook = nullptr;
  auto* thread = new CInputLockThread();
  if (!thread->CanReport() || thread->CreateThread() == win::FALSE) {
    delete thread;
    return false;
  }
  win::WaitForSingleObject(thread->Reported(), kHookThreadStartMs);
  if (thread->CallOff()) {
    Abandon(thread);
    return false;
  }
  // Only the simulated machine runs the program more than once in a process: what an earlier
  // run kept has ended with that run.
  delete g_lockThread.exchange(thread);
  g_installed = g_keyboardHook.load() != nullptr || g_mouseHook.load() != nullptr;
  return true;
}

}  // namespace

bool SwallowsKeyboardMessage(win::WPARAM message) {
  return message == win::WM_KEYDOWN || message == win::WM_SYSKEYDOWN;
}

bool SwallowsMouseMessage(win::WPARAM message) {
  switch (message) {
    case win::WM_LBUTTONDOWN:
    case win::WM_LBUTTONUP:
    case win::WM_LBUTTONDBLCLK:
    case win::WM_RBUTTONDOWN:
    case win::WM_RBUTTONUP:
    case win::WM_RBUTTONDBLCLK:
      return true;
    default:
      return false;
  }
}

// The procedures allocate nothing and lock nothing: every event of the desktop passes here.
win::LRESULT BIOSUPDATE_CALLBACK KeyboardHookProc(int code, win::WPARAM wParam, win::LPARAM lParam) {
  if (code >= 0 && SwallowsKeyboardMessage(wParam)) return kSwallow;
  return win::CallNextHookEx(g_keyboardHook, code, wParam, lParam);
}

win::LRESULT BIOSUPDATE_CALLBACK MouseHookProc(int code, win::WPARAM wParam, win::LPARAM lParam) {
  if (code >= 0 && SwallowsMouseMessage(wParam)) return kSwallow;
  return win::CallNextHookEx(g_mouseHook, code, wParam, lParam);
}

void InstallInputLock(win::HWND owner) {
  const bool serviced = StartHookThread();
  // Told on this thread, in the window's boxes. A single failure leaves the other kind of
  // input free to answer its box.
  if (!serviced || g_keyboardHook.load() == nullptr) {
    ui::WindowMessageBox(owner, ui::UiText(ui::TextId::MsgKeyboardHookFailed), nullptr, win::MB_OK);
  }
  if (!serviced || g_mouseHook.load() == nullptr) {
    ui::WindowMessageBox(owner, ui::UiText(ui::TextId::MsgMouseHookFailed), nullptr, win::MB_OK);
  }
}

bool InputLockInstalled() { return g_installed; }

void RemoveInputLock() {
  CInputLockThread* thread = g_lockThread.exchange(nullptr);
  if (thread == nullptr) return;
  g_renewalsStopped = true;
  if (win::PostThreadMessageA(thread->m_nThreadID, win::WM_QUIT, 0, 0) != win::FALSE &&
      win::WaitForSingleObject(thread->m_hThread, kHookThreadEndMs) == win::WAIT_OBJECT_0) {
    delete thread;
  } else {
    // The thread could not be told or did not end: the hooks must not outlive the update, so
    // they are removed from here. The thread itself ends with the process.
    UnhookBoth();
    Abandon(thread);
  }
  g_installed = false;
}

void UnhookInputLockNow() {
  g_renewalsStopped = true;
  UnhookBoth();
}

}  // namespace guards
