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

// From Vista on Windows acts on the power settings of the active scheme, not on the global
// policy: the power button, the sleep button and the lid (buttons subgroup) and "allow sleep
// states" (sleep subgroup), each with a value on mains (AC) and one on the battery (DC).
inline constexpr int kGuardedSettings = 4;
inline constexpr int kPowerSources = 2;  // AC, DC
inline constexpr win::DWORD kSettingDoesNothing = 0;  // do nothing; no sleep state S1 to S3

// What the save read of them, as plain values: a crash's restore uses them as they are. A
// value that could not be read is neither written nor restored.
struct SavedSettingValue {
  win::DWORD value = 0;
  bool read = false;
};
struct SavedPowerSettings {
  win::GUID scheme{};
  bool schemeRead = false;
  std::array<std::array<SavedSettingValue, kPowerSources>, kGuardedSettings> values{};
};

// The copy that save-and-apply keeps for the restore. Until a save has stored it, a restore
// has nothing to put back and writes nothing.
struct SavedPowerPolicies {
  ButtonAndLidPolicies policies{};
  bool saved = false;
  SavedPowerSettings settings{};
  // The global policy with the six on "do nothing" was written: from then on something is on.
  bool applied = false;
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
// After a session end that was agreed to (and the policies restored for it) is called off: the
// buttons, the lid and sleep do nothing again, from the copies of the save, which stay as they
// were. Fails with the save's message.
GuardOutcome LockPowerAgain(SavedPowerPolicies& saved);
// Tells a guard's failure in a box owned by `owner`. While the input lock is installed no click
// or key could close that box, and the window's thread would wait in it for ever: the text then
// goes to the debugger output only, and the finish (which restores once more after removing the
// lock) tells what is still wrong.
void TellPowerFailure(win::HWND owner, ui::TextId failure);
// For a crash: puts the saved copy back, if there is one (the settings of the active scheme, then
// the six through calls looked up beforehand), and says nothing. It allocates nothing and loads
// nothing; a call that cannot be had is a restore left undone.
void RestorePowerSilently(const win::PowerRestoreCalls& calls, const SavedPowerPolicies& saved);
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
