// The program's small application framework: an application object, windows, modal dialogs.
//
// Shaped after the classic Windows class libraries so that the program reads as a Windows
// program: one static application object whose InitInstance does the start-up, dialogs run
// modally with DoModal, a window's WindowProc decides what a message does and its message
// map (OnWndMsg) routes messages to On... handlers. win32/framework.cpp puts a real dialog and
// a real modal loop behind this; sim/framework.cpp runs the same code on the simulated machine.
#pragma once

#include "platform/services.h"

namespace win {

struct MSG {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class FrameworkAccess;

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // Member names carry Win32's "A" suffix: the unsuffixed names are macros in <windows.h>.
  LRESULT SendMessageA(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessageA(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  void SetWindowTextA(const char* text);
  HICON SetIcon(HICON icon, BOOL bigIcon);
  // Removes and then adds extended window styles; true when the style changed.
  BOOL ModifyStyleEx(DWORD remove, DWORD add);
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
  BOOL KillTimer(UINT_PTR id);
  // The whole client area, without erasing the background.
  void Invalidate(BOOL erase = TRUE);
  BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

  HWND m_hWnd = nullptr;

 protected:
  friend class FrameworkAccess;

  // Every message of the window comes here first. The default hands it to the message map
  // and, when no handler takes it, to the default handling.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The message map: returns true and sets *result when a handler took the message.
  virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // The system's own handling of a message for this window.
  LRESULT DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam);
};

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);

  // Creates the dialog from its template and runs the modal loop until the thread receives
  // the quit request (WM_QUIT); then destroys the window. Returns -1 when the dialog could
  // not be created, else 0.
  LONG_PTR DoModal();


 protected:
  friend class FrameworkAccess;

  virtual BOOL OnInitDialog();
  // Called for every message the modal loop takes from the queue before it is dispatched;
  // true means the message was handled and must not be dispatched. The default gives the
  // dialog its keyboard handling (Enter, Escape, Tab).
  virtual BOOL PreTranslateMessage(MSG* msg);

 private:
  UINT m_templateId;
  CWnd* m_parent;
};

class CWinApp {
 public:
  // No name given: the program's name is taken from its executable's file name.
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The whole start-up. True would enter the application's message loop; the framework
  // then ends the process with ExitInstance's result.
  virtual BOOL InitInstance();
  virtual int ExitInstance();

  // The window that owns the application's message boxes; null when there is none.
  CWnd* m_pMainWnd = nullptr;
  // The command-line arguments: the text after the program's own name.
  const char* m_lpCmdLine = "";
  HINSTANCE m_hInstance = nullptr;

 protected:
  // The framework's support for hosting controls in dialogs.
  void EnableControlContainer();
};

// A thread of the program's own. CreateThread starts it; the thread runs InitInstance and,
// when that returns true, Run; then ExitInstance. With m_bAutoDelete (the default) the object
// deletes itself when its thread ends. When CreateThread fails the object is not deleted: its
// creator still owns it.
class CWinThread {
 public:
  CWinThread() = default;
  virtual ~CWinThread();
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  BOOL CreateThread(DWORD creationFlags = 0, std::size_t stackSize = 0,
                    void* securityAttributes = nullptr);

  virtual BOOL InitInstance();
  virtual int ExitInstance();
  // The thread's message loop, until the quit request; then ExitInstance. A thread whose
  // InitInstance returns false never gets here.
  virtual int Run();
  // Called for every message the loop takes from the queue before it is dispatched; true means
  // it was handled and must not be dispatched. Messages for the thread itself (no window, a
  // timer of the thread's own) are seen only here.
  virtual BOOL PreTranslateMessage(MSG* msg);

  BOOL m_bAutoDelete = TRUE;
  HANDLE m_hThread = nullptr;
  DWORD m_nThreadID = 0;

 private:
  static DWORD BIOSUPDATE_CALLBACK ThreadEntry(void* parameter);
};

// A window's message map in the manner of WTL's BEGIN_MSG_MAP: a table of message numbers and
// member handlers, walked in order. A handler returns the message's result.
template <typename Window>
struct MessageMapEntry {
  UINT message;
  LRESULT (Window::*handler)(WPARAM wParam, LPARAM lParam);
};

// Runs the first handler for the message; false when the map has none.
template <typename Window, std::size_t N>
bool DispatchMessageMap(Window& window, const MessageMapEntry<Window> (&map)[N], UINT message,
                        WPARAM wParam, LPARAM lParam, LRESULT* result) {
  for (const MessageMapEntry<Window>& entry : map) {
    if (entry.message == message) {
      *result = (window.*entry.handler)(wParam, lParam);
      return true;
    }
  }
  return false;
}

// Run first at process start, before any DLL is loaded by name: from then on every DLL the
// process loads, its own or the system's on its behalf, comes from the system folder, never from
// beside the executable or the current directory. Where the system cannot be told so, the
// current directory at least leaves the search, and system DLLs are loaded by full path.
void RestrictDllSearch();

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

}  // namespace win
