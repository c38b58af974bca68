// The input lock: two system-wide low-level hooks swallow every key press and every left and
// right mouse button event while the firmware is written.
#pragma once

#include <atomic>

#include "platform/win_types.h"

namespace guards {

// Process-wide: the hook procedures are plain functions that the system calls without any
// object, and they need the handles to pass events on. Written on the hook thread, read on
// others (the installation, the removal, a crash), hence atomic; nothing clears them once set.
extern std::atomic<win::HHOOK> g_keyboardHook;
extern std::atomic<win::HHOOK> g_mouseHook;

// Decided by the message number alone.
bool SwallowsKeyboardMessage(win::WPARAM message);
bool SwallowsMouseMessage(win::WPARAM message);

win::LRESULT BIOSUPDATE_CALLBACK KeyboardHookProc(int code, win::WPARAM wParam, win::LPARAM lParam);
win::LRESULT BIOSUPDATE_CALLBACK MouseHookProc(int code, win::WPARAM wParam, win::LPARAM lParam);

// Installs both hooks for all threads of the desktop, on a thread of their own that services
// them and installs them anew twice a second while the lock stands; a hook that cannot be installed is told in a box owned by `owner` and the lock goes on
// without it. A hook thread that has not reported within its start time is called off: what it
// installs later it removes at once, so the lock is either wholly in place or wholly absent.
void InstallInputLock(win::HWND owner);
// Whether a hook is installed and not yet removed: a box shown now may get no click or key.
bool InputLockInstalled();
// Removes each hook that is set, and ends their thread. Only the first call after the
// installation does anything; any thread may make it. The lock counts as installed until its
// hooks are gone.
void RemoveInputLock();
// For a crash: unhooks whatever handles are set, from the crashing thread, and stops the
// renewals; nothing else.
void UnhookInputLockNow();

}  // namespace guards
