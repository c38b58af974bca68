// The application object: the process's start-up.
#pragma once

#include "platform/framework.h"
#include "platform/handle.h"

namespace app {

inline constexpr const char* kInstanceMutexName = "The Program of BIOS update program";
inline constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValueName = "BIOSUpdate";
inline constexpr int kProcessExitCode = 0;

class CBiosUpdateApp : public win::CWinApp {
 public:
  CBiosUpdateApp() = default;

  // Keeps a second instance out, refuses anything but 64-bit Windows, then runs either the
  // clean-up mode or the update's controller window. Always false: the process then ends.
  win::BOOL InitInstance() override;

 private:
  bool RunsOn64BitWindows() const;
  void RunCleanUpMode() const;
  void RunUpdateMode();

  // Held for the life of the process: the name is what keeps a second instance out.
  win::UniqueKernelHandle m_instanceMutex;
};

extern CBiosUpdateApp theApp;

}  // namespace app
