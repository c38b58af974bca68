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
using HANDLE = HANDLE_*;
using HWND = HWND_*;
using HKEY = HKEY_*;
using HICON = HICON_*;
using HRSRC = HRSRC_*;
using HGLOBAL = HGLOBAL_*;
using HINSTANCE = HINSTANCE_*;
using HMODULE = HINSTANCE;

inline constexpr std::size_t MAX_PATH = 260;

// Every numeric constant of the seam, as (name, type, value). The list is expanded here into
// constants and in the win32 layer into static_asserts against <windows.h>.
#define BIOSUPDATE_WIN_CONSTANTS(X)                                                               \
  /* errors */                                                                                    \
  X(ERROR_SUCCESS, LONG, 0)                                                                       \
  X(ERROR_FILE_NOT_FOUND, DWORD, 2)                                                               \
  X(ERROR_PATH_NOT_FOUND, DWORD, 3)                                                               \
  X(ERROR_ACCESS_DENIED, DWORD, 5)                                                                \
  X(ERROR_WRITE_FAULT, DWORD, 29)                                                                 \
  X(ERROR_SHARING_VIOLATION, DWORD, 32)                                                           \
  X(ERROR_DISK_FULL, DWORD, 112)                                                                  \
  X(ERROR_DIR_NOT_EMPTY, DWORD, 145)                                                              \
  X(ERROR_ALREADY_EXISTS, DWORD, 183)                                                             \
  X(S_OK, HRESULT, 0)                                                                             \
  /* files */                                                                                     \
  X(GENERIC_WRITE, DWORD, 0x40000000)                                                             \
  X(CREATE_ALWAYS, DWORD, 2)                                                                      \
  X(FILE_ATTRIBUTE_NORMAL, DWORD, 0x80)                                                           \
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
  X(WM_CLOSE, UINT, 0x0010)                                                                       \
  X(WM_QUIT, UINT, 0x0012)                                                                        \
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
#undef BIOSUPDATE_DEFINE_CONSTANT

// Predefined root keys carry fixed handle values on Windows.
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0x80000002u));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0x80000003u));

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
