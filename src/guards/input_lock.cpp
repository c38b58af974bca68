#include "guards/input_lock.h"

#include <atomic>

#include "platform/framework.h"
#include "platform/handle.h"
#include "platform/services.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace guards {

win::HHOOK g_keyboardHook = nullptr;
win::HHOOK g_mouseHook = nullptr;

namespace {

// A non-zero answer ends the event: no later hook and no window sees it.
constexpr win::LRESULT kSwallow = 1;
// Low-level hooks watch every thread of the desktop.
constexpr win::DWORD kAllThreads = 0;
// The hook thread has nothing to do but install two hooks and enter its loop; should it not
// be there by then, the lock is told as failed rather than the update held up.
constexpr win::DWORD kHookThreadStartMs = 5000;
// It ends as soon as it has removed the hooks.
constexpr win::DWORD kHookThreadEndMs = 5000;
constexpr win::BOOL kManualReset = win::TRUE;
constexpr win::BOOL kNotSet = win::FALSE;

// The system calls a low-level hook on the thread that installed it, and only while that thread
// asks for messages; a thread that does not answer within the system's time-out loses its hook
// without a word (Windows 7 and later). The UI thread blocks for seconds at a time (the pauses,
// the commands, the identity query, the capsule's writing, every message box), so the hooks
// live on a thread of their own that does nothing but wait for messages.
class CInputLockThread : public win::CWinThread {
 public:
  explicit CInputLockThread(win::HANDLE installed) : installed_(installed) { m_bAutoDelete = win::FALSE; }

  win::BOOL InitInstance() override {
    const win::HINSTANCE self = win::AfxGetInstanceHandle();
    g_keyboardHook = win::SetWindowsHookExA(win::WH_KEYBOARD_LL, &KeyboardHookProc, self, kAllThreads);
    g_mouseHook = win::SetWindowsHookExA(win::WH_MOUSE_LL, &MouseHookProc, self, kAllThreads);
    // The removal is a message to this thread: it must have a queue before anyone posts.
    win::EnsureMessageQueue();
    win::SetEvent(installed_);
    return win::TRUE;
  }

  // After the quit request: the hooks go with the thread that services them.
  int ExitInstance() override {
    UnhookBoth();
    return 0;
  }

  static void UnhookBoth() {
    if (g_keyboardHook != nullptr) win::UnhookWindowsHookEx(g_keyboardHook);
    if (g_mouseHook != nullptr) win::UnhookWindowsHookEx(g_mouseHook);
  }

 private:
  win::HANDLE installed_;
};

// Set by the installation, taken by the one removal; the worker may remove the lock too. A run
// that ends by the quit message alone keeps its lock, thread and all, until the process ends.
std::atomic<CInputLockThread*> g_lockThread = nullptr;
// A thread that could not be told to end, or did not: it is left to the process's end, never
// deleted under its own feet.
std::atomic<CInputLockThread*> g_abandonedThread = nullptr;
std::atomic<bool> g_installed = false;

// Starts the hook thread and waits until it has installed what it could.
void StartHookThread() {
  win::UniqueKernelHandle installed(win::CreateEventA(nullptr, kManualReset, kNotSet, nullptr));
  if (!installed.Valid()) return;
  auto* thread = new CInputLockThread(installed.Get());
  if (thread->CreateThread() == win::FALSE) {
    delete thread;
    return;
  }
  // Only the simulated machine runs the program more than once in a process: what an earlier
  // run kept has ended with that run.
  delete g_lockThread.exchange(thread);
  win::WaitForSingleObject(installed.Get(), kHookThreadStartMs);
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
  StartHookThread();
  g_installed = g_keyboardHook != nullptr || g_mouseHook != nullptr;
  // Told on this thread, in the window's boxes. A single failure leaves the other kind of
  // input free to answer its box.
  if (g_keyboardHook == nullptr) {
    ui::WindowMessageBox(owner, ui::UiText(ui::TextId::MsgKeyboardHookFailed), nullptr, win::MB_OK);
  }
  if (g_mouseHook == nullptr) {
    ui::WindowMessageBox(owner, ui::UiText(ui::TextId::MsgMouseHookFailed), nullptr, win::MB_OK);
  }
}

bool InputLockInstalled() { return g_installed; }

void RemoveInputLock() {
  CInputLockThread* thread = g_lockThread.exchange(nullptr);
  if (thread == nullptr) return;
  g_installed = false;
  if (win::PostThreadMessageA(thread->m_nThreadID, win::WM_QUIT, 0, 0) != win::FALSE &&
      win::WaitForSingleObject(thread->m_hThread, kHookThreadEndMs) == win::WAIT_OBJECT_0) {
    delete thread;
    return;
  }
  // The thread could not be told or did not end: the hooks must not outlive the update, so
  // they are removed from here. The thread itself ends with the process.
  CInputLockThread::UnhookBoth();
  delete g_abandonedThread.exchange(thread);  // an earlier run's, on the simulated machine
}

}  // namespace guards
