// The power scheme guard: while the firmware is written, the power and sleep buttons and the
// lid do nothing; afterwards they do what they did before.
#pragma once

#include <array>

#include "platform/win_types.h"

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

// Mode kPowerSaveAndApply or kPowerRestore. A failing step shows its message in a box owned by
// `owner` and the guard returns false having changed nothing more.
bool PowerSchemeGuard(int mode, SavedPowerPolicies& saved, win::HWND owner);

}  // namespace guards
