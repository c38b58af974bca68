// The power scheme services of powrprof.dll, loaded at run time from the system folder.
//
// The program runs elevated from wherever it was downloaded, and a DLL that the executable
// imports may be looked for beside it first: a planted powrprof.dll there would run with
// administrator rights. Loading it by hand, from the system folder only, closes that door.
#include "platform/win32/windows_api.h"

#include <powrprof.h>

namespace win {
namespace {

struct PowrProf {
  ::HMODULE module;
  ::DWORD loadError;
};

// Loaded on first use and kept for the life of the process.
const PowrProf& LoadedPowrProf() {
  static const PowrProf loaded = [] {
    const ::HMODULE module =
        ::LoadLibraryExW(L"powrprof.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return PowrProf{module, module != nullptr ? ::DWORD{0} : ::GetLastError()};
  }();
  return loaded;
}

// The named function of powrprof.dll as declared in <powrprof.h>; null, with the last error
// set, when the DLL or the function cannot be had.
template <typename Function>
Function PowrProfFunction(const char* name) {
  const PowrProf& powrprof = LoadedPowrProf();
  if (powrprof.module == nullptr) {
    ::SetLastError(powrprof.loadError);
    return nullptr;
  }
  const FARPROC address = ::GetProcAddress(powrprof.module, name);
  if (address == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  // Through the one function type that converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

BOOLEAN CanUserWritePwrScheme() {
  const auto function =
      PowrProfFunction<decltype(&::CanUserWritePwrScheme)>("CanUserWritePwrScheme");
  return function != nullptr ? function() : FALSE;
}

// The seam's GLOBAL_POWER_POLICY is laid out as the system's (seam_check.cpp).
BOOLEAN ReadGlobalPwrPolicy(GLOBAL_POWER_POLICY* policy) {
  const auto function = PowrProfFunction<decltype(&::ReadGlobalPwrPolicy)>("ReadGlobalPwrPolicy");
  return function != nullptr ? function(reinterpret_cast<PGLOBAL_POWER_POLICY>(policy)) : FALSE;
}

BOOLEAN GetActivePwrScheme(UINT* scheme) {
  const auto function = PowrProfFunction<decltype(&::GetActivePwrScheme)>("GetActivePwrScheme");
  return function != nullptr ? function(scheme) : FALSE;
}

BOOLEAN SetActivePwrScheme(UINT scheme, GLOBAL_POWER_POLICY* globalPolicy, void* powerPolicy) {
  const auto function = PowrProfFunction<decltype(&::SetActivePwrScheme)>("SetActivePwrScheme");
  return function != nullptr
             ? function(scheme, reinterpret_cast<PGLOBAL_POWER_POLICY>(globalPolicy),
                        static_cast<PPOWER_POLICY>(powerPolicy))
             : FALSE;
}

}  // namespace win
