// The framework on the simulated machine: a dialog is a simulated window and the modal loop
// takes messages from the simulated queue.
#include "platform/framework.h"
#include "platform/sim/machine.h"

namespace win {

class FrameworkAccess {
 public:
  static BOOL InitDialog(CDialog& dialog) { return dialog.OnInitDialog(); }
  static BOOL PreTranslate(CDialog& dialog, MSG* msg) { return dialog.PreTranslateMessage(msg); }
  static LRESULT Dispatch(CWnd& window, const MSG& msg) {
    return window.WindowProc(msg.message, msg.wParam, msg.lParam);
  }
};

LRESULT CWnd::DefaultHandling(UINT message, WPARAM wParam, LPARAM) {
  sim::TheMachine().Log("DefWindowProc", std::to_string(message) + " " + std::to_string(wParam));
  return 0;
}

BOOL CDialog::PreTranslateMessage(MSG*) {
  sim::TheMachine().Log("IsDialogMessage");
  return FALSE;
}

LONG_PTR CDialog::DoModal() {
  sim::Machine& machine = sim::TheMachine();
  machine.Log("DoModal", std::to_string(m_templateId));
  m_hWnd = machine.CreateDialogWindow(m_templateId, this);
  if (m_hWnd == nullptr) return -1;

  FrameworkAccess::InitDialog(*this);
  // The dialog manager shows a window whose template says WS_VISIBLE once it is initialised.
  if (sim::Window* window = machine.WindowOf(m_hWnd); window != nullptr && (window->style & WS_VISIBLE)) {
    window->visible = true;
  }

  const HWND self = m_hWnd;
  struct DestroyOnExit {
    sim::Machine& machine;
    CDialog& dialog;
    HWND window;
    ~DestroyOnExit() {
      machine.DestroyWindow(window);
      dialog.m_hWnd = nullptr;
    }
  } destroy{machine, *this, self};

  while (std::optional<MSG> msg = machine.NextMessage()) {
    if (FrameworkAccess::PreTranslate(*this, &*msg)) continue;
    sim::Window* target = machine.WindowOf(msg->hwnd);
    if (target != nullptr && target->owner != nullptr) FrameworkAccess::Dispatch(*target->owner, *msg);
  }
  return 0;
}

void CWinApp::EnableControlContainer() { sim::TheMachine().Log("AfxEnableControlContainer"); }

}  // namespace win
