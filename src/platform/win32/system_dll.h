// Functions of system DLLs that the program loads at run time, from the system folder only.
//
// The program runs elevated from wherever it was downloaded, and a DLL that the executable
// imports may be looked for beside it first: a planted one there would run with
// administrator rights. Only DLLs that Windows always takes from its own folder (the known
// DLLs) are imported; every other one is loaded by hand, from the system folder only.
#pragma once

#include "platform/win32/windows_api.h"

namespace win32 {

// The module, loaded on first use and kept for the life of the process; null, with the last
// error set, when it cannot be loaded.
::HMODULE SystemModule(const wchar_t* dll);

// The function, through the one function type that converts to any other without a warning.
template <typename Function>
Function AsFunction(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// A function of kernel32 (always loaded) that older Windows may not have: null, with
// ERROR_PROC_NOT_FOUND, where it is missing. Newer functions are looked up this way rather than
// imported, so that the loader does not refuse the whole program before its first line.
template <typename Function>
Function KernelFunction(const char* name) {
  const FARPROC address = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name);
  if (address == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return AsFunction<Function>(address);
}

// The named function of a system DLL; null, with the last error set, when the DLL or the
// function cannot be had.
template <typename Function>
Function SystemFunction(const wchar_t* dll, const char* name) {
  const ::HMODULE module = SystemModule(dll);
  if (module == nullptr) return nullptr;
  const FARPROC address = ::GetProcAddress(module, name);
  if (address == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return AsFunction<Function>(address);
}

}  // namespace win32
