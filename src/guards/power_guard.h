// The power scheme guard: while the firmware is written, the power and sleep buttons and the
// lid do nothing; afterwards they do what they did before.
#pragma once

#include <array>
#include <optional>

#include "platform/services.h"
#include "platform/win_types.h"
#include "ui/texts.h"

namespace guards {

inline constexpr int kPowerSaveAndApply = 100;
inline constexpr int kPowerRestore = 101;
inline constexpr int kButtonAndLidPolicies = 6;

using ButtonAndLidPolicies = std::array<win::POWER_ACTION_POLICY, kButtonAndLidPolicies>;

// The copy that save-and-apply keeps for the restore. Until a save has stored it, a restore
// has nothing to put back and writes nothing.
struct SavedPowerPolicies {
  ButtonAndLidPolicies policies{};
  bool saved = false;
};

// PowerButtonAc, PowerButtonDc, SleepButtonAc, SleepButtonDc, LidCloseAc, LidCloseDc.
ButtonAndLidPolicies ButtonAndLidOf(const win::GLOBAL_POWER_POLICY& policy);
void SetButtonAndLid(win::GLOBAL_POWER_POLICY& policy, const ButtonAndLidPolicies& policies);

// What save-and-apply keeps: each policy's action and flags as read, the event code that
// forces the system to take the policy up again.
ButtonAndLidPolicies CopyToSave(const win::GLOBAL_POWER_POLICY& read);
// The policy to apply during the update: all six do nothing, with the flags of the power
// button on AC; everything else as read.
win::GLOBAL_POWER_POLICY DoNothingPolicy(const win::GLOBAL_POWER_POLICY& read);
// The policy read now with the saved six put back.
win::GLOBAL_POWER_POLICY RestoredPolicy(const win::GLOBAL_POWER_POLICY& now, const ButtonAndLidPolicies& saved);

// What one pass of the guard came to: success, or the message of the step that failed (none
// for a restore with no saved copy, which writes nothing and says nothing).
struct GuardOutcome {
  bool succeeded;
  std::optional<ui::TextId> failure;
};
// Mode kPowerSaveAndApply or kPowerRestore, telling nobody; a failing step changes nothing more.
GuardOutcome ApplyPowerScheme(int mode, SavedPowerPolicies& saved);
// Tells a guard's failure in a box owned by `owner`. While the input lock is installed no click
// or key could close that box, and the window's thread would wait in it for ever: the text then
// goes to the debugger output only, and the finish (which restores once more after removing the
// lock) tells what is still wrong.
void TellPowerFailure(win::HWND owner, ui::TextId failure);
// For a crash: puts the saved six back through calls looked up beforehand, and says nothing.
// It allocates nothing and loads nothing; a call that cannot be had is a restore left undone.
void RestorePowerSilently(const win::PowerRestoreCalls& calls, const ButtonAndLidPolicies& saved);
// ApplyPowerScheme, then TellPowerFailure on a failure; true on success.
bool PowerSchemeGuard(int mode, SavedPowerPolicies& saved, win::HWND owner);

// Asks Windows to keep the system and the display on, on the calling thread, which must live
// until LetSystemSleep. The button and lid policies leave the active scheme's idle timers
// alone, and since Vista Windows neither asks before it suspends nor heeds a window's refusal:
// only such a request keeps the machine from sleeping while the firmware is written (and, on a
// Modern Standby machine, from turning the display off, which there is standby). A refused
// request stops nothing.
void KeepSystemAwake();
// Takes the request back: the machine sleeps by its own settings again.
void LetSystemSleep();

}  // namespace guards
