// The system services the program uses, with Win32's names and argument shapes.
//
// Two implementations stand behind these declarations: win32/ forwards each call to the
// Windows API, sim/ answers it from the simulated machine of the host tests. Only what the
// program actually calls is here.
#pragma once

#include "platform/win_types.h"

namespace win {

// --- process, errors, start-up ----------------------------------------------------------
void InitCommonControls();
HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
HANDLE GetCurrentProcess();
BOOL IsWow64Process(HANDLE process, BOOL* isWow64);
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
HINSTANCE GetModuleHandleA(const char* moduleName);
void Sleep(DWORD milliseconds);
void OutputDebugStringA(const char* text);
// The run-time library's exit: static objects are destroyed and the process ends at once.
[[noreturn]] void CrtExit(int code);

// --- language ---------------------------------------------------------------------------
LANGID GetSystemDefaultLangID();
LCID GetSystemDefaultLCID();

// --- COM --------------------------------------------------------------------------------
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3);

// --- registry ---------------------------------------------------------------------------
LSTATUS SHDeleteValueA(HKEY key, const char* subKey, const char* valueName);

// --- shell folders and files ------------------------------------------------------------
HRESULT SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, char* path);
BOOL CreateDirectoryA(const char* path, void* securityAttributes);
BOOL RemoveDirectoryA(const char* path);
BOOL DeleteFileA(const char* path);
// FindFirstFileA and FindClose, reduced to the one question the program asks: does an entry
// of that name exist? The search is closed before it returns.
bool PathExists(const char* path);
HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped);

// --- the program's own resources --------------------------------------------------------
HRSRC FindResourceA(HMODULE module, int id, const char* type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL loaded);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL loaded);
HICON LoadIconA(HINSTANCE instance, int id);

// --- windows and message boxes ----------------------------------------------------------
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT flags);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL SetWindowTextA(HWND window, const char* text);
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);

}  // namespace win
