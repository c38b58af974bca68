#include "platform/win32/system_dll.h"

#include <map>
#include <string>

namespace win32 {
namespace {

struct Loaded {
  ::HMODULE module;
  ::DWORD error;
};

}  // namespace

// Called on the UI thread only (start-up, the power guard), before and after the worker's
// thread exists but never from it.
::HMODULE SystemModule(const wchar_t* dll) {
  static std::map<std::wstring, Loaded> loaded;
  auto [entry, fresh] = loaded.try_emplace(dll, Loaded{nullptr, 0});
  if (fresh) {
    entry->second.module = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    entry->second.error = entry->second.module != nullptr ? 0 : ::GetLastError();
  }
  if (entry->second.module == nullptr) ::SetLastError(entry->second.error);
  return entry->second.module;
}

}  // namespace win32
