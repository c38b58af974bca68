// The parts of the framework that are the same on every platform: thin members over the
// window services, the application object's registration and the message map's default.
#include "platform/framework.h"

namespace win {
namespace {

CWinApp* g_application = nullptr;
constexpr DWORD kResumeFailed = static_cast<DWORD>(-1);

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

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs) {
  return win::SetTimer(m_hWnd, id, elapseMs, nullptr);
}

BOOL CWnd::KillTimer(UINT_PTR id) { return win::KillTimer(m_hWnd, id); }

void CWnd::Invalidate(BOOL erase) { win::InvalidateRect(m_hWnd, nullptr, erase); }

BOOL CWnd::SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return win::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnWndMsg(message, wParam, lParam, &result)) return result;
  return DefaultHandling(message, wParam, lParam);
}

bool CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_parent(parent) {}

BOOL CDialog::OnInitDialog() { return TRUE; }

CWinThread::~CWinThread() {
  if (m_hThread != nullptr) CloseHandle(m_hThread);
}

// The thread is made suspended and let go only once the handle is stored: an auto-deleting
// thread may otherwise end, and delete this object, before CreateThread has returned.
BOOL CWinThread::CreateThread(DWORD creationFlags, std::size_t stackSize, void* securityAttributes) {
  m_hThread = win::CreateThread(securityAttributes, stackSize, &CWinThread::ThreadEntry, this,
                                creationFlags | CREATE_SUSPENDED, &m_nThreadID);
  if (m_hThread == nullptr) return FALSE;
  if ((creationFlags & CREATE_SUSPENDED) == 0 && win::ResumeThread(m_hThread) == kResumeFailed) {
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return FALSE;
  }
  return TRUE;
}

BOOL CWinThread::InitInstance() { return FALSE; }

int CWinThread::ExitInstance() { return 0; }

BOOL CWinThread::PreTranslateMessage(MSG*) { return FALSE; }

DWORD BIOSUPDATE_CALLBACK CWinThread::ThreadEntry(void* parameter) {
  auto* thread = static_cast<CWinThread*>(parameter);
  // Deleted however the thread ends, also when its process ends under it.
  struct AutoDelete {
    CWinThread* thread;
    ~AutoDelete() {
      if (thread->m_bAutoDelete != FALSE) delete thread;
    }
  } autoDelete{thread};
  return static_cast<DWORD>(thread->InitInstance() != FALSE ? thread->Run() : thread->ExitInstance());
}

CWinApp::CWinApp(const char*) { g_application = this; }

CWinApp::~CWinApp() {
  if (g_application == this) g_application = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

void RestrictDllSearch() {
  constexpr const char* kNoExtraFolder = "";
  if (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) == FALSE) SetDllDirectoryA(kNoExtraFolder);
}

CWinApp* AfxGetApp() { return g_application; }

HINSTANCE AfxGetInstanceHandle() {
  return g_application != nullptr && g_application->m_hInstance != nullptr
             ? g_application->m_hInstance
             : GetModuleHandleA(nullptr);
}

}  // namespace win
