// The power scheme services of powrprof.dll, loaded at run time from the system folder
// (system_dll.h says why).
#include "platform/win32/system_dll.h"

#include <powrprof.h>

namespace win {
namespace {

constexpr const wchar_t* kPowrProf = L"powrprof.dll";

template <typename Function>
Function PowrProfFunction(const char* name) {
  return win32::SystemFunction<Function>(kPowrProf, name);
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

PowerRestoreCalls ResolvePowerRestoreCalls() {
  // The seam's pointer types differ from powrprof's only in how the structure and the integer
  // types are spelled (seam_check.cpp); the calling convention is the same.
  const auto address = [](const char* name) { return PowrProfFunction<FARPROC>(name); };
  PowerRestoreCalls calls;
  calls.readGlobalPwrPolicy = win32::AsFunction<decltype(calls.readGlobalPwrPolicy)>(address("ReadGlobalPwrPolicy"));
  calls.getActivePwrScheme = win32::AsFunction<decltype(calls.getActivePwrScheme)>(address("GetActivePwrScheme"));
  calls.setActivePwrScheme = win32::AsFunction<decltype(calls.setActivePwrScheme)>(address("SetActivePwrScheme"));
  return calls;
}

// The power-setting functions are looked up once, at their first call (the save, before the
// lock): a restore after a crash then calls through a pointer already at hand and allocates
// nothing. Vista and later have them; elsewhere the call fails with ERROR_PROC_NOT_FOUND.
#define BIOSUPDATE_POWRPROF_ONCE(name) \
  static const auto function = PowrProfFunction<decltype(&::name)>(#name); \
  if (function == nullptr) return ERROR_PROC_NOT_FOUND

DWORD PowerGetActiveScheme(HKEY userRootPowerKey, GUID** activeScheme) {
  BIOSUPDATE_POWRPROF_ONCE(PowerGetActiveScheme);
  return function(win32::As<::HKEY>(userRootPowerKey), reinterpret_cast<::GUID**>(activeScheme));
}

DWORD PowerReadACValueIndex(HKEY root, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value) {
  BIOSUPDATE_POWRPROF_ONCE(PowerReadACValueIndex);
  return function(win32::As<::HKEY>(root), reinterpret_cast<const ::GUID*>(scheme), reinterpret_cast<const ::GUID*>(subgroup),
                  reinterpret_cast<const ::GUID*>(setting), reinterpret_cast<::DWORD*>(value));
}

DWORD PowerReadDCValueIndex(HKEY root, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value) {
  BIOSUPDATE_POWRPROF_ONCE(PowerReadDCValueIndex);
  return function(win32::As<::HKEY>(root), reinterpret_cast<const ::GUID*>(scheme), reinterpret_cast<const ::GUID*>(subgroup),
                  reinterpret_cast<const ::GUID*>(setting), reinterpret_cast<::DWORD*>(value));
}

DWORD PowerWriteACValueIndex(HKEY root, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value) {
  BIOSUPDATE_POWRPROF_ONCE(PowerWriteACValueIndex);
  return function(win32::As<::HKEY>(root), reinterpret_cast<const ::GUID*>(scheme), reinterpret_cast<const ::GUID*>(subgroup),
                  reinterpret_cast<const ::GUID*>(setting), value);
}

DWORD PowerWriteDCValueIndex(HKEY root, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value) {
  BIOSUPDATE_POWRPROF_ONCE(PowerWriteDCValueIndex);
  return function(win32::As<::HKEY>(root), reinterpret_cast<const ::GUID*>(scheme), reinterpret_cast<const ::GUID*>(subgroup),
                  reinterpret_cast<const ::GUID*>(setting), value);
}

DWORD PowerSetActiveScheme(HKEY userRootPowerKey, const GUID* scheme) {
  BIOSUPDATE_POWRPROF_ONCE(PowerSetActiveScheme);
  return function(win32::As<::HKEY>(userRootPowerKey), reinterpret_cast<const ::GUID*>(scheme));
}

#undef BIOSUPDATE_POWRPROF_ONCE

}  // namespace win
