// Every number the program's code uses through the seam is Windows' own.
#include "platform/win32/windows_api.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#define BIOSUPDATE_CHECK_CONSTANT(name, type, value) \
  static_assert(static_cast<long long>(name) == static_cast<long long>(value), #name);
BIOSUPDATE_WIN_CONSTANTS(BIOSUPDATE_CHECK_CONSTANT)
#undef BIOSUPDATE_CHECK_CONSTANT

static_assert(MAX_PATH == 260);
static_assert(sizeof(win::DWORD) == sizeof(DWORD) && sizeof(win::LONG) == sizeof(LONG));
static_assert(sizeof(win::WPARAM) == sizeof(WPARAM) && sizeof(win::LPARAM) == sizeof(LPARAM));
static_assert(sizeof(win::LRESULT) == sizeof(LRESULT) && sizeof(win::HRESULT) == sizeof(HRESULT));
static_assert(sizeof(win::LANGID) == sizeof(LANGID) && sizeof(win::LCID) == sizeof(LCID));
