// The controller window: the program's only window, which conducts the whole update.
#pragma once

#include <string>

#include "platform/framework.h"

namespace update {

inline constexpr win::UINT kControllerDialogTemplateId = 102;
inline constexpr int kWindowIconResourceId = 128;
// Posted by the window to itself to end its modal loop.
inline constexpr win::UINT kQuitMessage = 0x807;
inline constexpr int kQuitExitCode = 0;

class CBiosUpdateDlg : public win::CDialog {
 public:
  CBiosUpdateDlg();

 protected:
  win::BOOL OnInitDialog() override;
  win::LRESULT WindowProc(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) override;
  win::BOOL PreTranslateMessage(win::MSG* msg) override;
  bool OnWndMsg(win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                win::LRESULT* result) override;

 private:
  win::HICON OnQueryDragIcon() const { return m_icon; }
  bool ConfirmUpdate();
  win::BOOL BeginUpdate();
  void QuitAfterCleanUp();

  // Working text for the title, the question and the first status text before they are used.
  std::string m_messageText;
  win::HICON m_icon;
};

}  // namespace update
