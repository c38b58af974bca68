// The one place that includes <windows.h>. The seam's headers come first: after <windows.h>
// many Win32 names are macros, which would rewrite the seam's declarations.
#pragma once

#include "platform/framework.h"
#include "platform/handle.h"
#include "platform/services.h"
#include "platform/win_types.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace win32 {

// The seam's opaque handles are the system's handles under another name.
template <typename To, typename From>
To As(From handle) {
  return reinterpret_cast<To>(handle);
}

}  // namespace win32
