#include "app/app.h"

#include "app/run_mode.h"
#include "app/working_folder.h"
#include "guards/crash_guard.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "update/controller_dialog.h"

namespace app {

CBiosUpdateApp theApp;

namespace {

// Process-wide COM security for the WMI queries of the update: COM picks the authentication
// services, calls are encrypted and servers may impersonate us.
constexpr win::LONG kComChoosesAuthServices = -1;

}  // namespace

win::BOOL CBiosUpdateApp::InitInstance() {
  guards::InstallCrashGuard();
  win::InitCommonControls();
  EnableControlContainer();

  m_instanceMutex = win::UniqueKernelHandle(win::CreateMutexA(nullptr, win::FALSE, kInstanceMutexName));
  if (win::GetLastError() == win::ERROR_ALREADY_EXISTS) return win::FALSE;

  const std::int32_t runMode = ParseRunMode(m_lpCmdLine);

  if (!RunsOn64BitWindows()) {
    ui::AppMessageBox(ui::UiText(ui::TextId::MsgNeeds64Bit));
    win::CrtExit(kProcessExitCode);
  }

  if (runMode == kCleanUpRunMode) {
    RunCleanUpMode();
  } else {
    RunUpdateMode();
  }
  return win::FALSE;
}

bool CBiosUpdateApp::RunsOn64BitWindows() const {
  if constexpr (win::kIs64BitProcess) return true;
  win::BOOL isWow64 = win::FALSE;
  return win::IsWow64Process(win::GetCurrentProcess(), &isWow64) != win::FALSE &&
         isWow64 != win::FALSE;
}

void CBiosUpdateApp::RunCleanUpMode() const {
  win::SHDeleteValueA(win::HKEY_LOCAL_MACHINE, kRunKey, kRunValueName);
  CleanUpWorkingFolder();
}

void CBiosUpdateApp::RunUpdateMode() {
  win::CoInitialize(nullptr);
  const win::HRESULT security = win::CoInitializeSecurity(
      nullptr, kComChoosesAuthServices, nullptr, nullptr, win::RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
      win::RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, win::EOAC_SECURE_REFS, nullptr);
  if (win::FAILED(security)) {
    ui::AppMessageBox(ui::UiText(ui::TextId::MsgSecuritySetupFailed));
    return;
  }

  update::CBiosUpdateDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
}

}  // namespace app
