// What a crash of the updater must not leave behind. Without this, an unhandled exception on any
// thread, std::terminate or abort opens an error box and keeps the process, its hooks and its
// changed power policies alive until someone answers; behind the full-screen, top-most window
// with every click and key swallowed, nobody can.
#pragma once

#include "guards/power_guard.h"

namespace guards {

// Installed first at start-up: a crash then ends the process at once, without any box, after
// removing the input hooks and putting back the saved power policies, and nothing more.
void InstallCrashGuard();
// The copy a crash restores, from the moment it may hold a saved copy; null when none exists
// any more.
void SetCrashRestore(const SavedPowerPolicies* saved);

}  // namespace guards
