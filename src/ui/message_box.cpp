#include "ui/message_box.h"

#include <array>

#include "platform/framework.h"
#include "platform/services.h"

namespace ui {

std::string ApplicationNameFromPath(std::string_view modulePath) {
  const std::size_t folderEnd = modulePath.find_last_of("\\/");
  std::string_view name =
      folderEnd == std::string_view::npos ? modulePath : modulePath.substr(folderEnd + 1);
  const std::size_t extension = name.rfind('.');
  if (extension != std::string_view::npos) name = name.substr(0, extension);
  return std::string(name);
}

std::string ApplicationName() {
  std::array<char, win::MAX_PATH> path{};
  const win::DWORD length =
      win::GetModuleFileNameA(nullptr, path.data(), static_cast<win::DWORD>(path.size()));
  return ApplicationNameFromPath(std::string_view(path.data(), length < path.size() ? length : 0));
}

int AppMessageBox(const char* text) {
  const win::CWnd* mainWindow = win::AfxGetApp()->m_pMainWnd;
  const win::HWND owner = mainWindow != nullptr ? mainWindow->m_hWnd : nullptr;
  const std::string caption = ApplicationName();
  return win::MessageBoxA(owner, text, caption.c_str(), win::MB_OK | win::MB_ICONEXCLAMATION);
}

int WindowMessageBox(win::HWND owner, const char* text, const char* caption, win::UINT flags) {
  const std::string applicationName = caption == nullptr ? ApplicationName() : std::string();
  return win::MessageBoxA(owner, text, caption != nullptr ? caption : applicationName.c_str(),
                          flags);
}

}  // namespace ui
