#include "guards/input_lock.h"

#include "platform/framework.h"
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
  const win::HINSTANCE self = win::AfxGetInstanceHandle();
  g_keyboardHook = win::SetWindowsHookExA(win::WH_KEYBOARD_LL, &KeyboardHookProc, self, kAllThreads);
  if (g_keyboardHook == nullptr) {
    ui::WindowMessageBox(owner, ui::UiText(ui::TextId::MsgKeyboardHookFailed), nullptr, win::MB_OK);
  }
  g_mouseHook = win::SetWindowsHookExA(win::WH_MOUSE_LL, &MouseHookProc, self, kAllThreads);
  if (g_mouseHook == nullptr) {
    ui::WindowMessageBox(owner, ui::UiText(ui::TextId::MsgMouseHookFailed), nullptr, win::MB_OK);
  }
}

void RemoveInputLock() {
  if (g_keyboardHook != nullptr) win::UnhookWindowsHookEx(g_keyboardHook);
  if (g_mouseHook != nullptr) win::UnhookWindowsHookEx(g_mouseHook);
}

}  // namespace guards
