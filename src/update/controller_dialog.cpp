#include "update/controller_dialog.h"

#include "app/working_folder.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace update {

CBiosUpdateDlg::CBiosUpdateDlg()
    : CDialog(kControllerDialogTemplateId),
      m_icon(win::LoadIconA(win::AfxGetInstanceHandle(), kWindowIconResourceId)) {}

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
  return BeginUpdate();
}

win::BOOL CBiosUpdateDlg::BeginUpdate() {
  // The locked update sequence follows the confirmation. Until it is in place a confirmed run
  // ends like a declined one and leaves the machine as it found it.
  QuitAfterCleanUp();
  return win::FALSE;
}

bool CBiosUpdateDlg::ConfirmUpdate() {
  m_messageText = ui::UiText(ui::TextId::ConfirmBody);
  const int answer = ui::WindowMessageBox(m_hWnd, m_messageText.c_str(),
                                          ui::UiText(ui::TextId::ConfirmCaption),
                                          win::MB_YESNO | win::MB_ICONEXCLAMATION);
  return answer != win::IDNO;
}

void CBiosUpdateDlg::QuitAfterCleanUp() {
  app::CleanUpWorkingFolder();
  PostMessageA(kQuitMessage);
}

win::LRESULT CBiosUpdateDlg::WindowProc(win::UINT message, win::WPARAM wParam,
                                        win::LPARAM lParam) {
  if (message == kQuitMessage) win::PostQuitMessage(kQuitExitCode);
  return CDialog::WindowProc(message, wParam, lParam);
}

win::BOOL CBiosUpdateDlg::PreTranslateMessage(win::MSG* msg) {
  // Key presses bypass the dialog's keyboard handling: neither Enter nor Escape may end the
  // dialog while the firmware is written.
  if (msg->message == win::WM_KEYDOWN || msg->message == win::WM_SYSKEYDOWN) return win::FALSE;
  return CDialog::PreTranslateMessage(msg);
}

bool CBiosUpdateDlg::OnWndMsg(win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                              win::LRESULT* result) {
  if (message == win::WM_QUERYDRAGICON) {
    *result = reinterpret_cast<win::LRESULT>(OnQueryDragIcon());
    return true;
  }
  return CDialog::OnWndMsg(message, wParam, lParam, result);
}

}  // namespace update
