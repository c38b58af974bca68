// The two kinds of message box the program shows, and the program's name as their caption.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace ui {

// The executable's file name without folder and extension ("BIOSUpdate" for
// C:\Downloads\BIOSUpdate.exe). The program has no title of its own.
std::string ApplicationName();
std::string ApplicationNameFromPath(std::string_view modulePath);

// An OK box with the exclamation icon, captioned with the application name and owned by the
// application's main window when there is one (none during start-up). Returns when closed.
int AppMessageBox(const char* text);

// A box owned by the given window; a null caption means the application name.
int WindowMessageBox(win::HWND owner, const char* text, const char* caption, win::UINT flags);

}  // namespace ui
