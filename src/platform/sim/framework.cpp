// The framework on the simulated machine: a dialog is a simulated window and the modal loop
// takes its messages from the simulated thread's queue.
#include "platform/framework.h"
#include "platform/sim/machine.h"

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

constexpr LRESULT kAgreeToEndSession = TRUE;

}  // namespace

// The system's own handling: what DefDlgProc does with the messages the program leaves to it.
LRESULT CWnd::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam) {
  sim::Machine& machine = sim::TheMachine();
  machine.Log("DefWindowProc", {message, wParam});
  sim::Window* window = machine.windows.Find(m_hWnd);
  if (window == nullptr) return 0;
  switch (message) {
    case WM_SETICON: {
      HICON& slot = wParam == ICON_BIG ? window->bigIcon : window->smallIcon;
      const HICON previous = slot;
      slot = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_PAINT:
      // BeginPaint and EndPaint: the update region is painted.
      machine.windows.Validate(m_hWnd);
      return 0;
    case WM_QUERYENDSESSION:
      return kAgreeToEndSession;
    default:
      return 0;
  }
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  sim::TheMachine().Log("IsDialogMessage", {msg->message, msg->wParam});
  return FALSE;
}

LONG_PTR CDialog::DoModal() {
  sim::Machine& machine = sim::TheMachine();
  machine.Log("DoModal", {m_templateId});
  m_hWnd = machine.windows.Create(m_templateId, this);
  if (m_hWnd == nullptr) return -1;

  // One owner destroys the window, on every way out of the loop.
  struct DestroyOnExit {
    sim::Machine& machine;
    CDialog& dialog;
    HWND window;
    ~DestroyOnExit() {
      machine.Log("DestroyWindow");
      machine.windows.Destroy(window);
      dialog.m_hWnd = nullptr;
    }
  } destroy{machine, *this, m_hWnd};

  FrameworkAccess::InitDialog(*this);
  // The dialog manager shows a window whose template says WS_VISIBLE once it is initialised.
  if (sim::Window* window = machine.windows.Find(m_hWnd); window != nullptr && (window->style & WS_VISIBLE)) {
    window->visible = true;
  }

  while (std::optional<MSG> msg = machine.windows.NextMessage(sim::kNever)) {
    if (msg->message == WM_QUIT) break;
    if (FrameworkAccess::PreTranslate(*this, &*msg)) continue;
    machine.windows.Deliver(*msg, false);
  }
  return 0;
}

int CWinThread::Run() {
  sim::Machine& machine = sim::TheMachine();
  while (std::optional<MSG> msg = machine.windows.NextMessage(sim::kNever)) {
    if (msg->message == WM_QUIT) break;
    if (PreTranslateMessage(&*msg)) continue;
    if (msg->hwnd != nullptr) machine.windows.Deliver(*msg, false);
  }
  return ExitInstance();
}

void CWinApp::EnableControlContainer() { sim::TheMachine().Log("AfxEnableControlContainer"); }

}  // namespace win

namespace sim {

win::LRESULT CallWindowProcOf(win::CWnd& window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  return win::FrameworkAccess::WindowProc(window, message, wParam, lParam);
}

}  // namespace sim
