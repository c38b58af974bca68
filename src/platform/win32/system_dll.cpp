#include "platform/win32/system_dll.h"

#include <array>
#include <map>
#include <string>

namespace win32 {
namespace {

struct Loaded {
  ::HMODULE module;
  ::DWORD error;
};

// Where the system can restrict the search to its own folder (it has SetDefaultDllDirectories),
// it is asked to; elsewhere the DLL is named by its full path in the system folder, and the
// DLLs it needs are looked for beside it first.
::HMODULE LoadFromSystemFolder(const wchar_t* dll) {
  if (::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr) {
    return ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  std::array<wchar_t, MAX_PATH> folder{};
  const ::UINT length = ::GetSystemDirectoryW(folder.data(), static_cast<::UINT>(folder.size()));
  if (length == 0 || length >= folder.size()) return nullptr;
  const std::wstring path = std::wstring(folder.data(), length) + L"\\" + dll;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

// Called on the UI thread only (start-up, the power guard), before and after the worker's
// thread exists but never from it.
::HMODULE SystemModule(const wchar_t* dll) {
  static std::map<std::wstring, Loaded> loaded;
  auto [entry, fresh] = loaded.try_emplace(dll, Loaded{nullptr, 0});
  if (fresh) {
    entry->second.module = LoadFromSystemFolder(dll);
    entry->second.error = entry->second.module != nullptr ? 0 : ::GetLastError();
  }
  if (entry->second.module == nullptr) ::SetLastError(entry->second.error);
  return entry->second.module;
}

}  // namespace win32
