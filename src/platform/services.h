// The system services the program uses, with Win32's names and argument shapes.
//
// Two implementations stand behind these declarations: win32/ forwards each call to the
// Windows API, sim/ answers it from the simulated machine of the host tests. Only what the
// program actually calls is here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

namespace win {

// --- process, errors, start-up ----------------------------------------------------------
void InitCommonControls();
// Looked up in kernel32 at run time: Windows 7 without its DLL-search update, and Vista, do not
// have it. There it fails with ERROR_PROC_NOT_FOUND.
BOOL SetDefaultDllDirectories(DWORD directoryFlags);
BOOL SetDllDirectoryA(const char* path);
HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
HANDLE GetCurrentProcess();
BOOL IsWow64Process(HANDLE process, BOOL* isWow64);
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
HINSTANCE GetModuleHandleA(const char* moduleName);
void Sleep(DWORD milliseconds);
// Milliseconds since the system started; cannot fail.
std::uint64_t GetTickCount64();
HANDLE CreateThread(void* securityAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD creationFlags, DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
HANDLE GetCurrentThread();
BOOL SetThreadPriority(HANDLE thread, int priority);
HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
UINT GetSystemDirectoryA(char* buffer, UINT size);
UINT GetWindowsDirectoryA(char* buffer, UINT size);
BOOL SetCurrentDirectoryA(const char* path);
DWORD GetCurrentDirectoryA(DWORD size, char* buffer);
// The process is created with start-up information that is all zero apart from its size.
BOOL CreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, const char* currentDirectory,
                    PROCESS_INFORMATION* processInformation);
// STILL_ACTIVE while the process runs.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand);
void OutputDebugStringA(const char* text);
// The run-time library's exit: static objects are destroyed and the process ends at once.
[[noreturn]] void CrtExit(int code);
// The process's error mode, which a child process inherits; returns the previous mode.
UINT SetErrorMode(UINT mode);
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);
// The run-time library's own ways to end a process after a failure, std::terminate and abort,
// call `handler` instead; the run-time's messages go to standard error, never into a box.
void SetCrtFailureHandler(void (*handler)());
BOOL TerminateProcess(HANDLE process, UINT exitCode);
// Looked up in kernel32 at run time (Vista and later); where missing, they fail with
// ERROR_PROC_NOT_FOUND (E_NOTIMPL for WerSetFlags) and change nothing.
// Room on the calling thread's stack that a stack overflow leaves for the exception's handling.
BOOL SetThreadStackGuarantee(ULONG* stackSizeInBytes);
// Windows Error Reporting's settings for this process (WER_FAULT_REPORTING_NO_UI and the like).
HRESULT WerSetFlags(DWORD flags);
// The calling thread's request to keep the system (and the display) on; with ES_CONTINUOUS it
// holds until the thread changes it or ends. Returns the previous state, 0 on failure.
DWORD SetThreadExecutionState(DWORD flags);

// --- language and text ------------------------------------------------------------------
LANGID GetSystemDefaultLangID();
LCID GetSystemDefaultLCID();
// Upper-cases in place by the rules of the system's ANSI code page (double-byte characters
// keep their bytes). Returns the count of bytes processed.
DWORD CharUpperBuffA(char* text, DWORD length);
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length,
                        char16_t* wide, int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideLength,
                        char* text, int length);

// --- COM --------------------------------------------------------------------------------
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3);
// CoCreateInstance of the WbemLocator class, in-process, for its IWbemLocator interface.
HRESULT CoCreateWbemLocator(IWbemLocator* locator);
// IWbemLocator::ConnectServer with no user, password, locale or authority, flags 0, no context.
HRESULT ConnectServer(IWbemLocator locator, const char16_t* networkResource,
                      IWbemServices* services);
// IWbemServices::CreateInstanceEnum with flags 0 and no context.
HRESULT CreateInstanceEnum(IWbemServices services, const char16_t* className,
                           IEnumWbemClassObject* enumerator);
// IEnumWbemClassObject::Next.
HRESULT EnumNext(IEnumWbemClassObject enumerator, LONG timeoutMs, ULONG count,
                 IWbemClassObject* objects, ULONG* returned);
// IWbemClassObject::Get with flags 0, no type and no flavour asked for.
HRESULT ObjectGet(IWbemClassObject object, const char16_t* name, VARIANT* value);
void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);
ULONG ComRelease(IUnknown object);

// --- registry ---------------------------------------------------------------------------
LSTATUS SHDeleteValueA(HKEY key, const char* subKey, const char* valueName);
LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result);
LSTATUS RegCreateKeyA(HKEY key, const char* subKey, HKEY* result);
LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type,
                       const BYTE* data, DWORD size);
LSTATUS RegCloseKey(HKEY key);

// --- shell folders and files ------------------------------------------------------------
HRESULT SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, char* path);
BOOL CreateDirectoryA(const char* path, void* securityAttributes);
BOOL RemoveDirectoryA(const char* path);
BOOL DeleteFileA(const char* path);
// FindFirstFileA and FindClose, reduced to the one question the program asks: does an entry
// of that name exist? The search is closed before it returns.
bool PathExists(const char* path);
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found);
BOOL FindClose(HANDLE search);
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
// A message for a thread rather than a window (hwnd null in its queue).
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// PeekMessageA reduced to what the program asks of it: with PM_NOREMOVE and no filter it
// makes sure the calling thread has a message queue, so that messages can be posted to it.
void EnsureMessageQueue();
BOOL SetWindowTextA(HWND window, const char* text);
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, void* timerProc);
BOOL KillTimer(HWND window, UINT_PTR id);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
int GetSystemMetrics(int index);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
// False while a message box that the window owns is open: the box disables its owner.
BOOL IsWindowEnabled(HWND window);
// The reason Windows shows for a window that refuses the end of the session. Only the thread
// that made the window may set or destroy it.
BOOL ShutdownBlockReasonCreate(HWND window, const char16_t* reason);
BOOL ShutdownBlockReasonDestroy(HWND window);
// From now on Windows puts no ghost window, with a close button of its own, in the place of a
// window of this process that stops answering.
void DisableProcessWindowsGhosting();

// --- painting ---------------------------------------------------------------------------
BOOL IsIconic(HWND window);
BOOL GetClientRect(HWND window, RECT* rect);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
BOOL DeleteDC(HDC dc);
HBITMAP LoadBitmapW(HINSTANCE instance, int id);
HBRUSH CreateSolidBrush(COLORREF color);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
BOOL BitBlt(HDC destination, int x, int y, int cx, int cy, HDC source, int sourceX, int sourceY, DWORD rop);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);

// --- low-level input hooks --------------------------------------------------------------
HHOOK SetWindowsHookExA(int idHook, HOOKPROC procedure, HINSTANCE module, DWORD threadId);
BOOL UnhookWindowsHookEx(HHOOK hook);
LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);

// --- power management (powrprof.dll, loaded from the system folder) ---------------------
BOOLEAN CanUserWritePwrScheme();
BOOLEAN ReadGlobalPwrPolicy(GLOBAL_POWER_POLICY* policy);
BOOLEAN GetActivePwrScheme(UINT* scheme);
BOOLEAN SetActivePwrScheme(UINT scheme, GLOBAL_POWER_POLICY* globalPolicy, void* powerPolicy);
// The three calls a restore of the global policy makes, looked up now and made later through
// these pointers, by a path that may neither load a DLL nor allocate (a crash). A member is null
// where the call cannot be had.
struct PowerRestoreCalls {
  BOOLEAN(BIOSUPDATE_CALLBACK* readGlobalPwrPolicy)(GLOBAL_POWER_POLICY* policy) = nullptr;
  BOOLEAN(BIOSUPDATE_CALLBACK* getActivePwrScheme)(UINT* scheme) = nullptr;
  BOOLEAN(BIOSUPDATE_CALLBACK* setActivePwrScheme)(UINT scheme, GLOBAL_POWER_POLICY* globalPolicy, void* powerPolicy) = nullptr;
};
PowerRestoreCalls ResolvePowerRestoreCalls();
// The power settings of a scheme (Vista and later). Each returns a Win32 error code,
// ERROR_SUCCESS when it succeeded. A value is read and written in the scheme's store; it is in
// force once PowerSetActiveScheme has made that scheme the active one.
DWORD PowerGetActiveScheme(HKEY userRootPowerKey, GUID** activeScheme);  // free it with LocalFree
DWORD PowerReadACValueIndex(HKEY rootPowerKey, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                            DWORD* value);
DWORD PowerReadDCValueIndex(HKEY rootPowerKey, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                            DWORD* value);
DWORD PowerWriteACValueIndex(HKEY rootPowerKey, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                             DWORD value);
DWORD PowerWriteDCValueIndex(HKEY rootPowerKey, const GUID* scheme, const GUID* subgroup, const GUID* setting,
                             DWORD value);
DWORD PowerSetActiveScheme(HKEY userRootPowerKey, const GUID* scheme);
void* LocalFree(void* memory);

// --- power supply and power requests (kernel32) -----------------------------------------
BOOL GetSystemPowerStatus(SYSTEM_POWER_STATUS* status);
// PowerCreateRequest with a REASON_CONTEXT of a simple reason string; null on failure. The
// request is a kernel handle (CloseHandle). Windows 7 and later: elsewhere it fails with
// ERROR_PROC_NOT_FOUND.
HANDLE PowerCreateRequest(const char16_t* simpleReason);
BOOL PowerSetRequest(HANDLE request, int requestType);
BOOL PowerClearRequest(HANDLE request, int requestType);

}  // namespace win
