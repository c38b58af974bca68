// The system services over the Windows API: one forwarding call each, nothing clever.
#include "platform/win32/system_dll.h"
#include "platform/win32/windows_api.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>

using win32::As;

namespace win {

// --- process, errors, start-up ----------------------------------------------------------

// comctl32.dll is no known DLL: it is loaded from the system folder, not imported.
void InitCommonControls() {
  const auto function = win32::SystemFunction<decltype(&::InitCommonControls)>(L"comctl32.dll", "InitCommonControls");
  if (function != nullptr) function();
}

BOOL SetDefaultDllDirectories(DWORD directoryFlags) {
  using Function = ::BOOL(WINAPI*)(::DWORD);
  const auto function = win32::KernelFunction<Function>("SetDefaultDllDirectories");
  if (function == nullptr) return FALSE;
  return function(directoryFlags);
}

BOOL SetDllDirectoryA(const char* path) { return ::SetDllDirectoryA(path); }

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
std::uint64_t GetTickCount64() { return ::GetTickCount64(); }

HANDLE CreateThread(void* securityAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD creationFlags, DWORD* threadId) {
  // The seam's routine differs from the system's only in how its integer types are spelled
  // (seam_check.cpp compares their sizes, signedness and calling convention).
  ::DWORD id = 0;
  const ::HANDLE thread =
      ::CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), stackSize,
                     reinterpret_cast<::LPTHREAD_START_ROUTINE>(start), parameter, creationFlags,
                     &id);
  if (threadId != nullptr) *threadId = id;
  return As<HANDLE>(thread);
}

DWORD ResumeThread(HANDLE thread) { return ::ResumeThread(As<::HANDLE>(thread)); }

HANDLE GetCurrentThread() { return As<HANDLE>(::GetCurrentThread()); }

BOOL SetThreadPriority(HANDLE thread, int priority) { return ::SetThreadPriority(As<::HANDLE>(thread), priority); }

HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name) {
  return As<HANDLE>(::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), manualReset,
                                   initialState, name));
}

BOOL SetEvent(HANDLE event) { return ::SetEvent(As<::HANDLE>(event)); }

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(As<::HANDLE>(handle), milliseconds);
}

UINT GetSystemDirectoryA(char* buffer, UINT size) { return ::GetSystemDirectoryA(buffer, size); }
UINT GetWindowsDirectoryA(char* buffer, UINT size) { return ::GetWindowsDirectoryA(buffer, size); }

BOOL SetCurrentDirectoryA(const char* path) { return ::SetCurrentDirectoryA(path); }

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  return ::GetCurrentDirectoryA(size, buffer);
}

BOOL CreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, const char* currentDirectory,
                    PROCESS_INFORMATION* processInformation) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  // The seam's PROCESS_INFORMATION is laid out as the system's (seam_check.cpp).
  return ::CreateProcessA(applicationName, commandLine,
                          static_cast<LPSECURITY_ATTRIBUTES>(processAttributes),
                          static_cast<LPSECURITY_ATTRIBUTES>(threadAttributes), inheritHandles,
                          creationFlags, environment, currentDirectory, &startup,
                          reinterpret_cast<LPPROCESS_INFORMATION>(processInformation));
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  ::DWORD code = 0;
  const ::BOOL ok = ::GetExitCodeProcess(As<::HANDLE>(process), &code);
  *exitCode = code;
  return ok;
}

HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
  return As<HINSTANCE>(
      ::ShellExecuteA(As<::HWND>(owner), verb, file, parameters, directory, showCommand));
}

void OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

void CrtExit(int code) { std::exit(code); }

UINT SetErrorMode(UINT mode) { return ::SetErrorMode(mode); }

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  return reinterpret_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(
      ::SetUnhandledExceptionFilter(reinterpret_cast<::LPTOP_LEVEL_EXCEPTION_FILTER>(filter)));
}

namespace {
void (*g_crtFailureHandler)() = nullptr;
void OnAbortSignal(int) { g_crtFailureHandler(); }
}  // namespace

void SetCrtFailureHandler(void (*handler)()) {
  g_crtFailureHandler = handler;
  // abort() would show its "abnormal program termination" box before raising the signal.
  _set_error_mode(_OUT_TO_STDERR);
  std::set_terminate(handler);
  std::signal(SIGABRT, &OnAbortSignal);
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) { return ::TerminateProcess(As<::HANDLE>(process), exitCode); }

BOOL SetThreadStackGuarantee(ULONG* stackSizeInBytes) {
  using Function = ::BOOL(WINAPI*)(::ULONG*);
  const auto function = win32::KernelFunction<Function>("SetThreadStackGuarantee");
  if (function == nullptr) return FALSE;
  ::ULONG size = *stackSizeInBytes;
  const ::BOOL ok = function(&size);
  *stackSizeInBytes = size;
  return ok;
}

HRESULT WerSetFlags(DWORD flags) {
  using Function = ::HRESULT(WINAPI*)(::DWORD);
  const auto function = win32::KernelFunction<Function>("WerSetFlags");
  if (function == nullptr) return E_NOTIMPL;
  return function(flags);
}

DWORD SetThreadExecutionState(DWORD flags) { return ::SetThreadExecutionState(flags); }

BOOL GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
  return ::GetSystemPowerStatus(reinterpret_cast<::SYSTEM_POWER_STATUS*>(status));
}

void* LocalFree(void* memory) { return ::LocalFree(memory); }

// Windows 7 and later: looked up, so that the program still starts where they are missing.
HANDLE PowerCreateRequest(const char16_t* simpleReason) {
  const auto function = win32::KernelFunction<decltype(&::PowerCreateRequest)>("PowerCreateRequest");
  if (function == nullptr) return nullptr;
  ::REASON_CONTEXT context{};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  // The call copies the text; it is not written to.
  context.Reason.SimpleReasonString = const_cast<::LPWSTR>(reinterpret_cast<const wchar_t*>(simpleReason));
  const ::HANDLE request = function(&context);
  return request == INVALID_HANDLE_VALUE ? nullptr : As<HANDLE>(request);
}

BOOL PowerSetRequest(HANDLE request, int requestType) {
  const auto function = win32::KernelFunction<decltype(&::PowerSetRequest)>("PowerSetRequest");
  return function != nullptr ? function(As<::HANDLE>(request), static_cast<::POWER_REQUEST_TYPE>(requestType)) : FALSE;
}

BOOL PowerClearRequest(HANDLE request, int requestType) {
  const auto function = win32::KernelFunction<decltype(&::PowerClearRequest)>("PowerClearRequest");
  return function != nullptr ? function(As<::HANDLE>(request), static_cast<::POWER_REQUEST_TYPE>(requestType)) : FALSE;
}

// --- language and text ------------------------------------------------------------------

LANGID GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }

LCID GetSystemDefaultLCID() { return ::GetSystemDefaultLCID(); }

DWORD CharUpperBuffA(char* text, DWORD length) { return ::CharUpperBuffA(text, length); }

// char16_t and wchar_t are both UTF-16 code units on Windows.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length,
                        char16_t* wide, int wideLength) {
  return ::MultiByteToWideChar(codePage, flags, text, length, reinterpret_cast<wchar_t*>(wide),
                               wideLength);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideLength,
                        char* text, int length) {
  return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(wide),
                               wideLength, text, length, nullptr, nullptr);
}

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

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result) {
  ::HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExA(As<::HKEY>(key), subKey, options, access, &opened);
  *result = As<HKEY>(opened);
  return status;
}

LSTATUS RegCreateKeyA(HKEY key, const char* subKey, HKEY* result) {
  ::HKEY created = nullptr;
  const LSTATUS status = ::RegCreateKeyA(As<::HKEY>(key), subKey, &created);
  *result = As<HKEY>(created);
  return status;
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type,
                       const BYTE* data, DWORD size) {
  return ::RegSetValueExA(As<::HKEY>(key), valueName, reserved, type, data, size);
}

LSTATUS RegCloseKey(HKEY key) { return ::RegCloseKey(As<::HKEY>(key)); }

// --- shell folders and files ------------------------------------------------------------

HRESULT SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, char* path) {
  return ::SHGetFolderPathA(As<::HWND>(owner), csidl, As<::HANDLE>(token), flags, path);
}

BOOL CreateDirectoryA(const char* path, void* securityAttributes) {
  return ::CreateDirectoryA(path, static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes));
}

BOOL RemoveDirectoryA(const char* path) { return ::RemoveDirectoryA(path); }

BOOL DeleteFileA(const char* path) { return ::DeleteFileA(path); }

namespace {

// The seam keeps only the attributes and the name of a found entry.
void CopyFound(const ::WIN32_FIND_DATAA& from, WIN32_FIND_DATAA* to) {
  static_assert(sizeof(to->cFileName) == sizeof(from.cFileName));
  to->dwFileAttributes = from.dwFileAttributes;
  std::memcpy(to->cFileName, from.cFileName, sizeof(to->cFileName));
}

}  // namespace

bool PathExists(const char* path) {
  ::WIN32_FIND_DATAA found;
  const ::HANDLE search = ::FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
  ::WIN32_FIND_DATAA data;
  const ::HANDLE search = ::FindFirstFileA(pattern, &data);
  if (search != INVALID_HANDLE_VALUE) CopyFound(data, found);
  return As<HANDLE>(search);
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) {
  ::WIN32_FIND_DATAA data;
  const ::BOOL ok = ::FindNextFileA(As<::HANDLE>(search), &data);
  if (ok) CopyFound(data, found);
  return ok;
}

BOOL FindClose(HANDLE search) { return ::FindClose(As<::HANDLE>(search)); }

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

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostThreadMessageA(threadId, message, wParam, lParam);
}

void EnsureMessageQueue() {
  ::MSG msg;
  ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

BOOL SetWindowTextA(HWND window, const char* text) {
  return ::SetWindowTextA(As<::HWND>(window), text);
}

LONG GetWindowLongA(HWND window, int index) { return ::GetWindowLongA(As<::HWND>(window), index); }

LONG SetWindowLongA(HWND window, int index, LONG value) {
  return ::SetWindowLongA(As<::HWND>(window), index, value);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, void* timerProc) {
  return ::SetTimer(As<::HWND>(window), id, elapseMs, reinterpret_cast<TIMERPROC>(timerProc));
}

BOOL KillTimer(HWND window, UINT_PTR id) { return ::KillTimer(As<::HWND>(window), id); }

// The seam's RECT is laid out as the system's (seam_check.cpp); no rectangle means the whole
// client area.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  return ::InvalidateRect(As<::HWND>(window), reinterpret_cast<const ::RECT*>(rect), erase);
}

BOOL ValidateRect(HWND window, const RECT* rect) {
  return ::ValidateRect(As<::HWND>(window), reinterpret_cast<const ::RECT*>(rect));
}

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

BOOL IsWindowEnabled(HWND window) { return ::IsWindowEnabled(As<::HWND>(window)); }

BOOL ShutdownBlockReasonCreate(HWND window, const char16_t* reason) {
  return ::ShutdownBlockReasonCreate(As<::HWND>(window), reinterpret_cast<const wchar_t*>(reason));
}

BOOL ShutdownBlockReasonDestroy(HWND window) { return ::ShutdownBlockReasonDestroy(As<::HWND>(window)); }

void DisableProcessWindowsGhosting() { ::DisableProcessWindowsGhosting(); }

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(As<::HWND>(window), As<::HWND>(insertAfter), x, y, cx, cy, flags);
}

// --- low-level input hooks --------------------------------------------------------------

// The seam's hook procedure differs from the system's only in how its integer types are
// spelled (seam_check.cpp compares their sizes, signedness and calling convention).
HHOOK SetWindowsHookExA(int idHook, HOOKPROC procedure, HINSTANCE module, DWORD threadId) {
  return As<HHOOK>(::SetWindowsHookExA(idHook, reinterpret_cast<::HOOKPROC>(procedure),
                                       As<::HINSTANCE>(module), threadId));
}

BOOL UnhookWindowsHookEx(HHOOK hook) { return ::UnhookWindowsHookEx(As<::HHOOK>(hook)); }

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  return ::CallNextHookEx(As<::HHOOK>(hook), code, wParam, lParam);
}

}  // namespace win
