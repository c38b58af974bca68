// The system services over the Windows API: one forwarding call each, nothing clever.
#include "platform/win32/windows_api.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>

using win32::As;

namespace win {

// --- process, errors, start-up ----------------------------------------------------------

void InitCommonControls() { ::InitCommonControls(); }

HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name) {
  return As<HANDLE>(::CreateMutexA(static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                                   initialOwner, name));
}

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(As<::HANDLE>(handle)); }

DWORD GetLastError() { return ::GetLastError(); }

HANDLE GetCurrentProcess() { return As<HANDLE>(::GetCurrentProcess()); }

BOOL IsWow64Process(HANDLE process, BOOL* isWow64) {
  ::BOOL answer = FALSE;
  const ::BOOL ok = ::IsWow64Process(As<::HANDLE>(process), &answer);
  *isWow64 = answer;
  return ok;
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  return ::GetModuleFileNameA(As<::HMODULE>(module), buffer, size);
}

HINSTANCE GetModuleHandleA(const char* moduleName) {
  return As<HINSTANCE>(::GetModuleHandleA(moduleName));
}

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

void OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

void CrtExit(int code) { std::exit(code); }

// --- language ---------------------------------------------------------------------------

LANGID GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }

LCID GetSystemDefaultLCID() { return ::GetSystemDefaultLCID(); }

// --- COM --------------------------------------------------------------------------------

HRESULT CoInitialize(void* reserved) { return ::CoInitialize(reserved); }

HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3) {
  return ::CoInitializeSecurity(static_cast<PSECURITY_DESCRIPTOR>(securityDescriptor),
                                authServiceCount, static_cast<SOLE_AUTHENTICATION_SERVICE*>(authServices),
                                reserved1, authnLevel, impLevel, authList, capabilities, reserved3);
}

// --- registry ---------------------------------------------------------------------------

LSTATUS SHDeleteValueA(HKEY key, const char* subKey, const char* valueName) {
  return ::SHDeleteValueA(As<::HKEY>(key), subKey, valueName);
}

// --- shell folders and files ------------------------------------------------------------

HRESULT SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, char* path) {
  return ::SHGetFolderPathA(As<::HWND>(owner), csidl, As<::HANDLE>(token), flags, path);
}

BOOL CreateDirectoryA(const char* path, void* securityAttributes) {
  return ::CreateDirectoryA(path, static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes));
}

BOOL RemoveDirectoryA(const char* path) { return ::RemoveDirectoryA(path); }

BOOL DeleteFileA(const char* path) { return ::DeleteFileA(path); }

bool PathExists(const char* path) {
  WIN32_FIND_DATAA found;
  const ::HANDLE search = ::FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  return As<HANDLE>(::CreateFileA(path, access, shareMode,
                                  static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                                  creationDisposition, flagsAndAttributes,
                                  As<::HANDLE>(templateFile)));
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped) {
  ::DWORD count = 0;
  const ::BOOL ok =
      ::WriteFile(As<::HANDLE>(file), data, size, &count, static_cast<LPOVERLAPPED>(overlapped));
  *written = count;
  return ok;
}

// --- the program's own resources --------------------------------------------------------

HRSRC FindResourceA(HMODULE module, int id, const char* type) {
  return As<HRSRC>(::FindResourceA(As<::HMODULE>(module), MAKEINTRESOURCEA(id), type));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  return As<HGLOBAL>(::LoadResource(As<::HMODULE>(module), As<::HRSRC>(resource)));
}

const void* LockResource(HGLOBAL loaded) { return ::LockResource(As<::HGLOBAL>(loaded)); }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  return ::SizeofResource(As<::HMODULE>(module), As<::HRSRC>(resource));
}

BOOL FreeResource(HGLOBAL loaded) { return ::FreeResource(As<::HGLOBAL>(loaded)); }

HICON LoadIconA(HINSTANCE instance, int id) {
  return As<HICON>(::LoadIconA(As<::HINSTANCE>(instance), MAKEINTRESOURCEA(id)));
}

// --- windows and message boxes ----------------------------------------------------------

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT flags) {
  return ::MessageBoxA(As<::HWND>(owner), text, caption, flags);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(As<::HWND>(window), message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(As<::HWND>(window), message, wParam, lParam);
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

BOOL SetWindowTextA(HWND window, const char* text) {
  return ::SetWindowTextA(As<::HWND>(window), text);
}

LONG GetWindowLongA(HWND window, int index) { return ::GetWindowLongA(As<::HWND>(window), index); }

LONG SetWindowLongA(HWND window, int index, LONG value) {
  return ::SetWindowLongA(As<::HWND>(window), index, value);
}

}  // namespace win
