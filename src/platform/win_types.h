// Windows' types, handles and numbers as the program's own code sees them.
//
// The program's code does not include <windows.h>; it talks to the system through the
// services declared in this folder. To keep that code reading like the Windows program it
// is, the seam keeps Win32's names, shapes and numbers, inside namespace `win`. The win32
// layer checks every number here against <windows.h> (win32/seam_check.cpp), so a typo
// cannot make the program send a wrong message or flag.
#pragma once

#include <cstdint>

namespace win {

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using LANGID = std::uint16_t;
using LCID = std::uint32_t;
using HRESULT = std::int32_t;
using LSTATUS = LONG;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ULONG = std::uint32_t;
using BOOLEAN = std::uint8_t;
using VARTYPE = std::uint16_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Opaque handles. Each kind is a distinct type so that a window cannot be passed where a
// registry key is expected; the win32 layer converts them to the real ones.
struct HANDLE_;
struct HWND_;
struct HKEY_;
struct HICON_;
struct HRSRC_;
struct HGLOBAL_;
struct HINSTANCE_;
struct HHOOK_;
struct HDC_;
// GDI objects: a bitmap and a brush are both objects that SelectObject and DeleteObject take.
struct HGDIOBJ_ {};
struct HBITMAP_ : HGDIOBJ_ {};
struct HBRUSH_ : HGDIOBJ_ {};
using HANDLE = HANDLE_*;
using HWND = HWND_*;
using HKEY = HKEY_*;
using HICON = HICON_*;
using HRSRC = HRSRC_*;
using HGLOBAL = HGLOBAL_*;
using HINSTANCE = HINSTANCE_*;
using HMODULE = HINSTANCE;
using HHOOK = HHOOK_*;
using HDC = HDC_*;
using HGDIOBJ = HGDIOBJ_*;
using HBITMAP = HBITMAP_*;
using HBRUSH = HBRUSH_*;
using COLORREF = DWORD;

// Callbacks that Windows calls use its calling convention, which differs on 32-bit x86.
#if defined(_WIN32) && !defined(_WIN64)
#define BIOSUPDATE_CALLBACK __attribute__((stdcall))
#else
#define BIOSUPDATE_CALLBACK
#endif
using HOOKPROC = LRESULT(BIOSUPDATE_CALLBACK*)(int code, WPARAM wParam, LPARAM lParam);
using LPTHREAD_START_ROUTINE = DWORD(BIOSUPDATE_CALLBACK*)(void* parameter);

// What a top-level exception filter is handed; only the exception's code is read here.
struct EXCEPTION_RECORD {
  DWORD ExceptionCode = 0;
};
struct EXCEPTION_POINTERS {
  EXCEPTION_RECORD* ExceptionRecord = nullptr;
  void* ContextRecord = nullptr;
};
using LPTOP_LEVEL_EXCEPTION_FILTER = LONG(BIOSUPDATE_CALLBACK*)(EXCEPTION_POINTERS* exception);

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};

struct PAINTSTRUCT {
  HDC hdc = nullptr;
  BOOL fErase = FALSE;
  RECT rcPaint;
  BOOL fRestore = FALSE;
  BOOL fIncUpdate = FALSE;
  BYTE rgbReserved[32] = {};
};

struct PROCESS_INFORMATION {
  HANDLE hProcess = nullptr;
  HANDLE hThread = nullptr;
  DWORD dwProcessId = 0;
  DWORD dwThreadId = 0;
};

// The part of WIN32_FIND_DATAA the program reads.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  char cFileName[260] = {};
};

// The global power policy, laid out as in <powrprof.h> (checked in win32/seam_check.cpp).
struct POWER_ACTION_POLICY {
  DWORD Action = 0;  // a POWER_ACTION value
  ULONG Flags = 0;
  ULONG EventCode = 0;
  bool operator==(const POWER_ACTION_POLICY&) const = default;
};

struct SYSTEM_POWER_LEVEL {
  BOOLEAN Enable = 0;
  BYTE Spare[3] = {};
  ULONG BatteryLevel = 0;
  POWER_ACTION_POLICY PowerPolicy;
  DWORD MinSystemState = 0;  // a SYSTEM_POWER_STATE value
  bool operator==(const SYSTEM_POWER_LEVEL&) const = default;
};

inline constexpr int NUM_DISCHARGE_POLICIES = 4;

struct GLOBAL_USER_POWER_POLICY {
  ULONG Revision = 0;
  POWER_ACTION_POLICY PowerButtonAc;
  POWER_ACTION_POLICY PowerButtonDc;
  POWER_ACTION_POLICY SleepButtonAc;
  POWER_ACTION_POLICY SleepButtonDc;
  POWER_ACTION_POLICY LidCloseAc;
  POWER_ACTION_POLICY LidCloseDc;
  SYSTEM_POWER_LEVEL DischargePolicy[NUM_DISCHARGE_POLICIES];
  ULONG GlobalFlags = 0;
  bool operator==(const GLOBAL_USER_POWER_POLICY&) const = default;
};

struct GLOBAL_MACHINE_POWER_POLICY {
  ULONG Revision = 0;
  DWORD LidOpenWakeAc = 0;  // SYSTEM_POWER_STATE
  DWORD LidOpenWakeDc = 0;
  ULONG BroadcastCapacityResolution = 0;
  bool operator==(const GLOBAL_MACHINE_POWER_POLICY&) const = default;
};

struct GLOBAL_POWER_POLICY {
  GLOBAL_USER_POWER_POLICY user;
  GLOBAL_MACHINE_POWER_POLICY mach;
  bool operator==(const GLOBAL_POWER_POLICY&) const = default;
};

// A GUID, laid out as Windows' (checked in win32/seam_check.cpp). Power schemes, their
// subgroups and their settings are named by GUIDs.
struct GUID {
  DWORD Data1 = 0;
  WORD Data2 = 0;
  WORD Data3 = 0;
  BYTE Data4[8] = {};
  bool operator==(const GUID&) const = default;
};

// What GetSystemPowerStatus reports about the power supply, laid out as in <winbase.h>.
struct SYSTEM_POWER_STATUS {
  BYTE ACLineStatus = 0;        // 0 offline, 1 online, 255 unknown
  BYTE BatteryFlag = 0;         // bits: 1 high, 2 low, 4 critical, 8 charging, 128 no battery; 255 unknown
  BYTE BatteryLifePercent = 0;  // 0 to 100, 255 unknown
  BYTE SystemStatusFlag = 0;
  DWORD BatteryLifeTime = 0;
  DWORD BatteryFullLifeTime = 0;
};

// COM objects of WMI, reached through the services in services.h. Each kind is its own type;
// all of them are released with ComRelease.
struct IUnknown_ {};
struct IWbemLocator_ : IUnknown_ {};
struct IWbemServices_ : IUnknown_ {};
struct IEnumWbemClassObject_ : IUnknown_ {};
struct IWbemClassObject_ : IUnknown_ {};
using IUnknown = IUnknown_*;
using IWbemLocator = IWbemLocator_*;
using IWbemServices = IWbemServices_*;
using IEnumWbemClassObject = IEnumWbemClassObject_*;
using IWbemClassObject = IWbemClassObject_*;

// A property value as WMI hands it over. Only strings are looked at: for VT_BSTR, bstrVal is a
// system string owned by the variant until VariantClear.
struct VARIANT {
  VARTYPE vt = 0;
  const char16_t* bstrVal = nullptr;
};

inline constexpr std::size_t MAX_PATH = 260;

// Every numeric constant of the seam, as (name, type, value). The list is expanded here into
// constants and in the win32 layer into static_asserts against <windows.h>.
#define BIOSUPDATE_WIN_CONSTANTS(X)                                                               \
  /* errors */                                                                                    \
  X(ERROR_SUCCESS, LONG, 0)                                                                       \
  X(ERROR_FILE_NOT_FOUND, DWORD, 2)                                                               \
  X(ERROR_PATH_NOT_FOUND, DWORD, 3)                                                               \
  X(ERROR_ACCESS_DENIED, DWORD, 5)                                                                \
  X(ERROR_PROC_NOT_FOUND, DWORD, 127)                                                             \
  X(ERROR_INVALID_HANDLE, DWORD, 6)                                                               \
  X(ERROR_INVALID_THREAD_ID, DWORD, 1444)                                                         \
  X(ERROR_WRITE_FAULT, DWORD, 29)                                                                 \
  X(ERROR_SHARING_VIOLATION, DWORD, 32)                                                           \
  X(ERROR_DISK_FULL, DWORD, 112)                                                                  \
  X(ERROR_DIR_NOT_EMPTY, DWORD, 145)                                                              \
  X(ERROR_ALREADY_EXISTS, DWORD, 183)                                                             \
  X(ERROR_NOT_ENOUGH_MEMORY, DWORD, 8)                                                            \
  X(ERROR_NO_MORE_FILES, DWORD, 18)                                                               \
  X(ERROR_INVALID_PARAMETER, DWORD, 87)                                                           \
  X(ERROR_INSUFFICIENT_BUFFER, DWORD, 122)                                                        \
  X(ERROR_BAD_EXE_FORMAT, DWORD, 193)                                                             \
  X(ERROR_ENVVAR_NOT_FOUND, DWORD, 203)                                                           \
  X(ERROR_INVALID_WINDOW_HANDLE, DWORD, 1400)                                                     \
  X(ERROR_NOT_ENOUGH_QUOTA, DWORD, 1816)                                                          \
  X(S_OK, HRESULT, 0)                                                                             \
  X(S_FALSE, HRESULT, 1)                                                                          \
  X(E_FAIL, HRESULT, static_cast<HRESULT>(0x80004005u))                                           \
  X(E_NOTIMPL, HRESULT, static_cast<HRESULT>(0x80004001u))                                        \
  X(RPC_E_TOO_LATE, HRESULT, static_cast<HRESULT>(0x80010119u))                                   \
  /* files */                                                                                     \
  X(GENERIC_WRITE, DWORD, 0x40000000)                                                             \
  X(CREATE_ALWAYS, DWORD, 2)                                                                      \
  X(FILE_ATTRIBUTE_NORMAL, DWORD, 0x80)                                                           \
  X(FILE_ATTRIBUTE_DIRECTORY, DWORD, 0x10)                                                        \
  /* registry */                                                                                  \
  X(KEY_SET_VALUE, DWORD, 0x0002)                                                                 \
  X(REG_SZ, DWORD, 1)                                                                             \
  X(REG_BINARY, DWORD, 3)                                                                         \
  X(REG_DWORD, DWORD, 4)                                                                          \
  /* processes, threads and waits */                                                              \
  X(CREATE_NEW_CONSOLE, DWORD, 0x00000010)                                                        \
  X(CREATE_SUSPENDED, DWORD, 0x00000004)                                                          \
  X(CREATE_NO_WINDOW, DWORD, 0x08000000)                                                          \
  X(STILL_ACTIVE, DWORD, 259)                                                                     \
  X(THREAD_PRIORITY_TIME_CRITICAL, int, 15)                                                       \
  X(SEM_FAILCRITICALERRORS, UINT, 0x0001)                                                         \
  X(SEM_NOGPFAULTERRORBOX, UINT, 0x0002)                                                          \
  X(SEM_NOOPENFILEERRORBOX, UINT, 0x8000)                                                         \
  X(EXCEPTION_ACCESS_VIOLATION, DWORD, 0xC0000005)                                                \
  X(LOAD_LIBRARY_SEARCH_SYSTEM32, DWORD, 0x00000800)                                              \
  X(INFINITE, DWORD, 0xFFFFFFFF)                                                                  \
  X(WAIT_OBJECT_0, DWORD, 0)                                                                      \
  X(WAIT_TIMEOUT, DWORD, 258)                                                                     \
  X(WAIT_FAILED, DWORD, 0xFFFFFFFF)                                                               \
  X(SW_SHOW, int, 5)                                                                              \
  /* power */                                                                                     \
  X(PowerActionNone, DWORD, 0)                                                                    \
  X(POWER_FORCE_TRIGGER_RESET, ULONG, 0x80000000)                                                 \
  X(PBT_APMQUERYSUSPEND, WPARAM, 0x0000)                                                          \
  X(PBT_APMQUERYSTANDBY, WPARAM, 0x0001)                                                          \
  X(PBT_APMSUSPEND, WPARAM, 0x0004)                                                               \
  X(BROADCAST_QUERY_DENY, LRESULT, 0x424D5144)                                                    \
  X(ENDSESSION_CLOSEAPP, LPARAM, 0x00000001)                                                      \
  X(ES_CONTINUOUS, DWORD, 0x80000000)                                                              \
  X(ES_SYSTEM_REQUIRED, DWORD, 0x00000001)                                                        \
  X(ES_DISPLAY_REQUIRED, DWORD, 0x00000002)                                                       \
  X(AC_LINE_ONLINE, BYTE, 0x01)                                                                   \
  X(BATTERY_FLAG_NO_BATTERY, BYTE, 0x80)                                                          \
  X(BATTERY_FLAG_UNKNOWN, BYTE, 0xFF)                                                             \
  X(BATTERY_PERCENTAGE_UNKNOWN, BYTE, 0xFF)                                                       \
  X(PowerRequestDisplayRequired, int, 0)                                                          \
  X(PowerRequestSystemRequired, int, 1)                                                           \
  X(PowerRequestExecutionRequired, int, 3)                                                        \
  /* hooks */                                                                                     \
  X(WH_KEYBOARD_LL, int, 13)                                                                      \
  X(WH_MOUSE_LL, int, 14)                                                                         \
  /* WMI and text conversion */                                                                   \
  X(CP_THREAD_ACP, UINT, 3)                                                                       \
  X(VT_EMPTY, VARTYPE, 0)                                                                         \
  X(VT_NULL, VARTYPE, 1)                                                                          \
  X(VT_BSTR, VARTYPE, 8)                                                                          \
  /* shell folders */                                                                             \
  X(CSIDL_PROGRAM_FILES, int, 0x26)                                                               \
  X(SHGFP_TYPE_CURRENT, DWORD, 0)                                                                 \
  /* COM security */                                                                              \
  X(RPC_C_AUTHN_LEVEL_PKT_PRIVACY, DWORD, 6)                                                      \
  X(RPC_C_IMP_LEVEL_IMPERSONATE, DWORD, 3)                                                        \
  X(EOAC_SECURE_REFS, DWORD, 2)                                                                   \
  /* message boxes */                                                                             \
  X(MB_OK, UINT, 0x0)                                                                             \
  X(MB_YESNO, UINT, 0x4)                                                                          \
  X(MB_ICONEXCLAMATION, UINT, 0x30)                                                               \
  X(IDOK, int, 1)                                                                                 \
  X(IDYES, int, 6)                                                                                \
  X(IDNO, int, 7)                                                                                 \
  /* windows and messages */                                                                      \
  X(WM_NULL, UINT, 0x0000)                                                                        \
  X(WM_PAINT, UINT, 0x000F)                                                                       \
  X(WM_ERASEBKGND, UINT, 0x0014)                                                                  \
  X(WM_ENDSESSION, UINT, 0x0016)                                                                  \
  X(WM_USER, UINT, 0x0400)                                                                        \
  X(WM_KEYUP, UINT, 0x0101)                                                                       \
  X(WM_SYSKEYUP, UINT, 0x0105)                                                                    \
  X(WM_CTLCOLORDLG, UINT, 0x0136)                                                                 \
  X(WM_MOUSEMOVE, UINT, 0x0200)                                                                   \
  X(WM_LBUTTONDOWN, UINT, 0x0201)                                                                 \
  X(WM_LBUTTONUP, UINT, 0x0202)                                                                   \
  X(WM_LBUTTONDBLCLK, UINT, 0x0203)                                                               \
  X(WM_RBUTTONDOWN, UINT, 0x0204)                                                                 \
  X(WM_RBUTTONUP, UINT, 0x0205)                                                                   \
  X(WM_RBUTTONDBLCLK, UINT, 0x0206)                                                               \
  X(WM_MBUTTONDOWN, UINT, 0x0207)                                                                 \
  X(WM_MBUTTONUP, UINT, 0x0208)                                                                   \
  X(WM_MOUSEWHEEL, UINT, 0x020A)                                                                  \
  X(WM_XBUTTONDOWN, UINT, 0x020B)                                                                 \
  X(WM_POWERBROADCAST, UINT, 0x0218)                                                              \
  X(SM_CXSCREEN, int, 0)                                                                          \
  X(SM_CYSCREEN, int, 1)                                                                          \
  X(SWP_SHOWWINDOW, UINT, 0x0040)                                                                 \
  X(SM_CXICON, int, 11)                                                                           \
  X(SM_CYICON, int, 12)                                                                           \
  X(WM_DESTROY, UINT, 0x0002)                                                                     \
  X(WM_ICONERASEBKGND, UINT, 0x0027)                                                              \
  /* painting */                                                                                  \
  X(SRCCOPY, DWORD, 0x00CC0020)                                                                   \
  X(TRANSPARENT, int, 1)                                                                          \
  X(DT_CENTER, UINT, 0x00000001)                                                                  \
  X(WM_CLOSE, UINT, 0x0010)                                                                       \
  X(WM_QUIT, UINT, 0x0012)                                                                        \
  X(PM_NOREMOVE, UINT, 0x0000)                                                                    \
  X(WM_QUERYENDSESSION, UINT, 0x0011)                                                             \
  X(WM_QUERYDRAGICON, UINT, 0x0037)                                                               \
  X(WM_SETICON, UINT, 0x0080)                                                                     \
  X(WM_INITDIALOG, UINT, 0x0110)                                                                  \
  X(WM_TIMER, UINT, 0x0113)                                                                       \
  X(WM_KEYDOWN, UINT, 0x0100)                                                                     \
  X(WM_SYSKEYDOWN, UINT, 0x0104)                                                                  \
  X(ICON_SMALL, WPARAM, 0)                                                                        \
  X(ICON_BIG, WPARAM, 1)                                                                          \
  X(GWL_EXSTYLE, int, -20)                                                                        \
  X(WS_VISIBLE, DWORD, 0x10000000)                                                                \
  X(WS_EX_TOOLWINDOW, DWORD, 0x00000080)                                                          \
  X(WS_EX_APPWINDOW, DWORD, 0x00040000)

#define BIOSUPDATE_DEFINE_CONSTANT(name, type, value) inline constexpr type name = value;
BIOSUPDATE_WIN_CONSTANTS(BIOSUPDATE_DEFINE_CONSTANT)
// Windows Error Reporting shows no UI for this process (werapi.h; mingw-w64's lacks the name,
// so the seam check cannot compare it).
inline constexpr DWORD WER_FAULT_REPORTING_NO_UI = 0x00000020;
#undef BIOSUPDATE_DEFINE_CONSTANT

// Predefined root keys carry fixed handle values on Windows.
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0x80000002u));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0x80000003u));

// SetWindowPos's place at the top of all top-most windows.
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

inline constexpr LONG_PTR kInvalidHandleValue = -1;
inline HANDLE InvalidHandle() { return reinterpret_cast<HANDLE>(kInvalidHandleValue); }

// True in the 64-bit twin: a 64-bit process exists only on 64-bit Windows. The host build
// simulates the 32-bit product, so its start-up asks the system like the product does.
#if defined(_WIN64)
inline constexpr bool kIs64BitProcess = true;
#else
inline constexpr bool kIs64BitProcess = false;
#endif

inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

}  // namespace win
