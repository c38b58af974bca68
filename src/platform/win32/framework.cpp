// The framework over the Windows API: the process entry, a real dialog from the template
// resource and a real modal loop.
#include "platform/win32/windows_api.h"

#include <commctrl.h>

using win32::As;

namespace win {

class FrameworkAccess {
 public:
  static BOOL InitDialog(CDialog& dialog) { return dialog.OnInitDialog(); }
  static BOOL PreTranslate(CDialog& dialog, MSG* msg) { return dialog.PreTranslateMessage(msg); }
  static LRESULT WindowProc(CWnd& window, UINT message, WPARAM wParam, LPARAM lParam) {
    return window.WindowProc(message, wParam, lParam);
  }
};

namespace {

// The dialog's own window procedure (the dialog manager's), kept when the window is
// subclassed so that the default handling can reach it.
const char* const kOriginalProcProperty = "BIOSUpdate.OriginalWndProc";
const char* const kWindowObjectProperty = "BIOSUpdate.CWnd";

CWnd* WindowObject(::HWND hwnd) {
  return static_cast<CWnd*>(::GetPropA(hwnd, kWindowObjectProperty));
}

WNDPROC OriginalProc(::HWND hwnd) {
  return reinterpret_cast<WNDPROC>(::GetPropA(hwnd, kOriginalProcProperty));
}

// Every message of a dialog of ours passes here first and goes to the object's WindowProc.
::LRESULT CALLBACK SubclassProc(::HWND hwnd, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
  CWnd* window = WindowObject(hwnd);
  if (window == nullptr) return ::CallWindowProcA(OriginalProc(hwnd), hwnd, message, wParam, lParam);
  const ::LRESULT result = FrameworkAccess::WindowProc(*window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OriginalProc(hwnd)));
    ::RemovePropA(hwnd, kWindowObjectProperty);
    ::RemovePropA(hwnd, kOriginalProcProperty);
  }
  return result;
}

// The dialog procedure only brings the object in at WM_INITDIALOG; from then on the subclass
// procedure sees every message before the dialog manager does.
INT_PTR CALLBACK DialogProc(::HWND hwnd, ::UINT message, ::WPARAM, ::LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto* dialog = reinterpret_cast<CDialog*>(lParam);
  dialog->m_hWnd = As<HWND>(hwnd);
  ::SetPropA(hwnd, kWindowObjectProperty, dialog);
  ::SetPropA(hwnd, kOriginalProcProperty,
             reinterpret_cast<::HANDLE>(::SetWindowLongPtrA(
                 hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc))));
  return FrameworkAccess::InitDialog(*dialog);
}

MSG ToSeam(const ::MSG& msg) {
  return MSG{As<HWND>(msg.hwnd), msg.message, msg.wParam, msg.lParam};
}

}  // namespace

LRESULT CWnd::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
  const ::HWND hwnd = As<::HWND>(m_hWnd);
  const WNDPROC original = OriginalProc(hwnd);
  if (original == nullptr) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  return ::CallWindowProcA(original, hwnd, message, wParam, lParam);
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  ::MSG native{As<::HWND>(msg->hwnd), msg->message, msg->wParam, msg->lParam, 0, {0, 0}};
  return ::IsDialogMessageA(As<::HWND>(m_hWnd), &native);
}

LONG_PTR CDialog::DoModal() {
  const ::HWND hwnd = ::CreateDialogParamA(
      As<::HINSTANCE>(AfxGetInstanceHandle()), MAKEINTRESOURCEA(m_templateId),
      m_parent != nullptr ? As<::HWND>(m_parent->m_hWnd) : nullptr, &DialogProc,
      reinterpret_cast<LPARAM>(this));
  if (hwnd == nullptr) return -1;

  // The loop ends when the thread receives the quit request; GetMessage answers it with 0.
  ::MSG native;
  while (::GetMessageA(&native, nullptr, 0, 0) > 0) {
    MSG msg = ToSeam(native);
    if (FrameworkAccess::PreTranslate(*this, &msg)) continue;
    ::TranslateMessage(&native);
    ::DispatchMessageA(&native);
  }
  ::DestroyWindow(hwnd);
  m_hWnd = nullptr;
  return 0;
}

int CWinThread::Run() {
  ::MSG native;
  while (::GetMessageA(&native, nullptr, 0, 0) > 0) {
    MSG msg = ToSeam(native);
    if (PreTranslateMessage(&msg)) continue;
    ::TranslateMessage(&native);
    ::DispatchMessageA(&native);
  }
  return ExitInstance();
}

void CWinApp::EnableControlContainer() {
  // Dialogs of this program host no ActiveX controls; the common controls are registered by
  // InitCommonControls.
}

}  // namespace win

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  // The program runs elevated from wherever it was downloaded.
  win::RestrictDllSearch();
  win::CWinApp* app = win::AfxGetApp();
  if (app == nullptr) return 0;
  app->m_hInstance = As<win::HINSTANCE>(instance);
  app->m_lpCmdLine = commandLine != nullptr ? commandLine : "";
  app->InitInstance();
  return app->ExitInstance();
}
