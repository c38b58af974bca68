// Every number the program's code uses through the seam is Windows' own, and every structure
// the win32 layer hands to Windows as it is has Windows' layout.
#include "platform/win32/windows_api.h"

#include <commctrl.h>
#include <objbase.h>
#include <oleauto.h>
#include <powrprof.h>
#include <shlobj.h>

#include "resource.h"

#include <cstddef>
#include <type_traits>

#define BIOSUPDATE_CHECK_CONSTANT(name, type, value) \
  static_assert(static_cast<long long>(name) == static_cast<long long>(value), #name);
BIOSUPDATE_WIN_CONSTANTS(BIOSUPDATE_CHECK_CONSTANT)
#undef BIOSUPDATE_CHECK_CONSTANT

static_assert(MAX_PATH == 260);
static_assert(sizeof(win::DWORD) == sizeof(DWORD) && sizeof(win::LONG) == sizeof(LONG));
static_assert(sizeof(win::WPARAM) == sizeof(WPARAM) && sizeof(win::LPARAM) == sizeof(LPARAM));
static_assert(sizeof(win::LRESULT) == sizeof(LRESULT) && sizeof(win::HRESULT) == sizeof(HRESULT));
static_assert(sizeof(win::LANGID) == sizeof(LANGID) && sizeof(win::LCID) == sizeof(LCID));
static_assert(sizeof(win::ULONG) == sizeof(ULONG) && sizeof(win::BOOLEAN) == sizeof(BOOLEAN));
static_assert(sizeof(win::VARTYPE) == sizeof(VARTYPE) && sizeof(win::UINT) == sizeof(UINT));
static_assert(sizeof(char16_t) == sizeof(wchar_t));

namespace {

// Two integer types that hold the same values in the same bytes: the seam spells some of
// Windows' types differently (unsigned int for unsigned long), which is the same in memory.
template <typename Seam, typename Real>
constexpr bool kSameInteger = std::is_integral_v<Seam> && std::is_integral_v<Real> &&
                              sizeof(Seam) == sizeof(Real) &&
                              std::is_signed_v<Seam> == std::is_signed_v<Real>;

}  // namespace

// Callbacks that Windows calls: the seam's types have Windows' calling convention, and their
// integer types are Windows' in size and signedness, so both are called the same way. C++
// still counts them as different types where the spellings differ (the seam's DWORD is
// unsigned int, Windows' unsigned long; on 32-bit x86 the seam's LRESULT and LPARAM are int,
// Windows' long), which is why the win32 layer converts them with reinterpret_cast.
static_assert(std::is_same_v<::HOOKPROC, ::LRESULT(BIOSUPDATE_CALLBACK*)(int, ::WPARAM, ::LPARAM)>);
static_assert(std::is_same_v<win::HOOKPROC,
                             win::LRESULT(BIOSUPDATE_CALLBACK*)(int, win::WPARAM, win::LPARAM)>);
static_assert(std::is_same_v<::LPTHREAD_START_ROUTINE, ::DWORD(BIOSUPDATE_CALLBACK*)(LPVOID)>);
static_assert(std::is_same_v<win::LPTHREAD_START_ROUTINE, win::DWORD(BIOSUPDATE_CALLBACK*)(void*)>);
static_assert(kSameInteger<win::LRESULT, ::LRESULT> && kSameInteger<win::WPARAM, ::WPARAM> &&
              kSameInteger<win::LPARAM, ::LPARAM> && kSameInteger<win::DWORD, ::DWORD>);

// Structures passed to Windows by reinterpret_cast: same size, alignment, field offsets and
// field sizes.
#define BIOSUPDATE_CHECK_STRUCT(type)                                       \
  static_assert(sizeof(win::type) == sizeof(::type), #type " size");        \
  static_assert(alignof(win::type) == alignof(::type), #type " alignment")
#define BIOSUPDATE_CHECK_FIELD(type, field)                                          \
  static_assert(offsetof(win::type, field) == offsetof(::type, field),               \
                #type "::" #field " offset");                                         \
  static_assert(sizeof(win::type::field) == sizeof(::type::field), #type "::" #field " size")

BIOSUPDATE_CHECK_STRUCT(RECT);
BIOSUPDATE_CHECK_FIELD(RECT, left);
BIOSUPDATE_CHECK_FIELD(RECT, top);
BIOSUPDATE_CHECK_FIELD(RECT, right);
BIOSUPDATE_CHECK_FIELD(RECT, bottom);

BIOSUPDATE_CHECK_STRUCT(PROCESS_INFORMATION);
BIOSUPDATE_CHECK_FIELD(PROCESS_INFORMATION, hProcess);
BIOSUPDATE_CHECK_FIELD(PROCESS_INFORMATION, hThread);
BIOSUPDATE_CHECK_FIELD(PROCESS_INFORMATION, dwProcessId);
BIOSUPDATE_CHECK_FIELD(PROCESS_INFORMATION, dwThreadId);

BIOSUPDATE_CHECK_STRUCT(POWER_ACTION_POLICY);
BIOSUPDATE_CHECK_FIELD(POWER_ACTION_POLICY, Action);
BIOSUPDATE_CHECK_FIELD(POWER_ACTION_POLICY, Flags);
BIOSUPDATE_CHECK_FIELD(POWER_ACTION_POLICY, EventCode);

BIOSUPDATE_CHECK_STRUCT(SYSTEM_POWER_LEVEL);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_LEVEL, Enable);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_LEVEL, Spare);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_LEVEL, BatteryLevel);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_LEVEL, PowerPolicy);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_LEVEL, MinSystemState);

BIOSUPDATE_CHECK_STRUCT(GLOBAL_USER_POWER_POLICY);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, Revision);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, PowerButtonAc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, PowerButtonDc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, SleepButtonAc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, SleepButtonDc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, LidCloseAc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, LidCloseDc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, DischargePolicy);
BIOSUPDATE_CHECK_FIELD(GLOBAL_USER_POWER_POLICY, GlobalFlags);
static_assert(std::extent_v<decltype(win::GLOBAL_USER_POWER_POLICY::DischargePolicy)> ==
              NUM_DISCHARGE_POLICIES);

BIOSUPDATE_CHECK_STRUCT(GLOBAL_MACHINE_POWER_POLICY);
BIOSUPDATE_CHECK_FIELD(GLOBAL_MACHINE_POWER_POLICY, Revision);
BIOSUPDATE_CHECK_FIELD(GLOBAL_MACHINE_POWER_POLICY, LidOpenWakeAc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_MACHINE_POWER_POLICY, LidOpenWakeDc);
BIOSUPDATE_CHECK_FIELD(GLOBAL_MACHINE_POWER_POLICY, BroadcastCapacityResolution);

BIOSUPDATE_CHECK_STRUCT(GLOBAL_POWER_POLICY);
BIOSUPDATE_CHECK_FIELD(GLOBAL_POWER_POLICY, user);
BIOSUPDATE_CHECK_FIELD(GLOBAL_POWER_POLICY, mach);

BIOSUPDATE_CHECK_STRUCT(GUID);
BIOSUPDATE_CHECK_FIELD(GUID, Data1);
BIOSUPDATE_CHECK_FIELD(GUID, Data2);
BIOSUPDATE_CHECK_FIELD(GUID, Data3);
BIOSUPDATE_CHECK_FIELD(GUID, Data4);

BIOSUPDATE_CHECK_STRUCT(SYSTEM_POWER_STATUS);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_STATUS, ACLineStatus);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_STATUS, BatteryFlag);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_STATUS, BatteryLifePercent);
static_assert(offsetof(win::SYSTEM_POWER_STATUS, SystemStatusFlag) == offsetof(::SYSTEM_POWER_STATUS, Reserved1));
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_STATUS, BatteryLifeTime);
BIOSUPDATE_CHECK_FIELD(SYSTEM_POWER_STATUS, BatteryFullLifeTime);

#undef BIOSUPDATE_CHECK_FIELD
#undef BIOSUPDATE_CHECK_STRUCT

// The dialog template's styles are written as numbers so that the simulated machine can share
// them; they must be the named styles.
static_assert(IDD_BIOSUPDATE_DIALOG_STYLE == (WS_POPUP | WS_VISIBLE | DS_SETFONT));
static_assert(IDD_BIOSUPDATE_DIALOG_EXSTYLE == WS_EX_APPWINDOW);

// A top-level exception filter reads the exception's code through Windows' own structures.
static_assert(offsetof(win::EXCEPTION_POINTERS, ExceptionRecord) == offsetof(::EXCEPTION_POINTERS, ExceptionRecord));
static_assert(offsetof(win::EXCEPTION_RECORD, ExceptionCode) == offsetof(::EXCEPTION_RECORD, ExceptionCode));
static_assert(std::is_same_v<::LPTOP_LEVEL_EXCEPTION_FILTER, ::LONG(BIOSUPDATE_CALLBACK*)(::EXCEPTION_POINTERS*)>);
