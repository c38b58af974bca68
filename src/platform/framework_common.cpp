// The parts of the framework that are the same on every platform: thin members over the
// window services, the application object's registration and the message map's default.
#include "platform/framework.h"

namespace win {
namespace {

CWinApp* g_application = nullptr;

}  // namespace

LRESULT CWnd::SendMessageA(UINT message, WPARAM wParam, LPARAM lParam) {
  return win::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessageA(UINT message, WPARAM wParam, LPARAM lParam) {
  return win::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowTextA(const char* text) { win::SetWindowTextA(m_hWnd, text); }

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  return reinterpret_cast<HICON>(SendMessageA(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                              reinterpret_cast<LPARAM>(icon)));
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add) {
  const DWORD style = static_cast<DWORD>(GetWindowLongA(m_hWnd, GWL_EXSTYLE));
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) return FALSE;
  SetWindowLongA(m_hWnd, GWL_EXSTYLE, static_cast<LONG>(changed));
  return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnWndMsg(message, wParam, lParam, &result)) return result;
  return DefaultHandling(message, wParam, lParam);
}

bool CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

BOOL CDialog::OnInitDialog() { return TRUE; }

CWinApp::CWinApp(const char*) { g_application = this; }

CWinApp::~CWinApp() {
  if (g_application == this) g_application = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_application; }

HINSTANCE AfxGetInstanceHandle() {
  return g_application != nullptr && g_application->m_hInstance != nullptr
             ? g_application->m_hInstance
             : GetModuleHandleA(nullptr);
}

}  // namespace win
