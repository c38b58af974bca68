#include "guards/power_guard.h"

#include "guards/input_lock.h"
#include "platform/services.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace guards {
namespace {

// No scheme-specific policy is written: only the global one changes.
constexpr win::POWER_ACTION_POLICY* kNoSchemePolicy = nullptr;

GuardOutcome Failed(ui::TextId message) { return {false, message}; }

constexpr win::DWORD kSystemAndDisplayOn = win::ES_CONTINUOUS | win::ES_SYSTEM_REQUIRED | win::ES_DISPLAY_REQUIRED;
constexpr win::DWORD kNoLongerRequired = win::ES_CONTINUOUS;

}  // namespace

ButtonAndLidPolicies ButtonAndLidOf(const win::GLOBAL_POWER_POLICY& policy) {
  const win::GLOBAL_USER_POWER_POLICY& u = policy.user;
  return {u.PowerButtonAc, u.PowerButtonDc, u.SleepButtonAc, u.SleepButtonDc, u.LidCloseAc, u.LidCloseDc};
}

void SetButtonAndLid(win::GLOBAL_POWER_POLICY& policy, const ButtonAndLidPolicies& p) {
  win::GLOBAL_USER_POWER_POLICY& u = policy.user;
  u.PowerButtonAc = p[0];
  u.PowerButtonDc = p[1];
  u.SleepButtonAc = p[2];
  u.SleepButtonDc = p[3];
  u.LidCloseAc = p[4];
  u.LidCloseDc = p[5];
}

ButtonAndLidPolicies CopyToSave(const win::GLOBAL_POWER_POLICY& read) {
  ButtonAndLidPolicies saved = ButtonAndLidOf(read);
  for (win::POWER_ACTION_POLICY& p : saved) p.EventCode = win::POWER_FORCE_TRIGGER_RESET;
  return saved;
}

win::GLOBAL_POWER_POLICY DoNothingPolicy(const win::GLOBAL_POWER_POLICY& read) {
  win::GLOBAL_POWER_POLICY applied = read;
  const win::POWER_ACTION_POLICY nothing{win::PowerActionNone, read.user.PowerButtonAc.Flags,
                                         win::POWER_FORCE_TRIGGER_RESET};
  ButtonAndLidPolicies all;
  all.fill(nothing);
  SetButtonAndLid(applied, all);
  return applied;
}

win::GLOBAL_POWER_POLICY RestoredPolicy(const win::GLOBAL_POWER_POLICY& now, const ButtonAndLidPolicies& saved) {
  win::GLOBAL_POWER_POLICY restored = now;
  SetButtonAndLid(restored, saved);
  return restored;
}

void TellPowerFailure(win::HWND owner, ui::TextId failure) {
  if (InputLockInstalled()) {
    win::OutputDebugStringA(ui::UiText(failure));
    return;
  }
  ui::WindowMessageBox(owner, ui::UiText(failure), nullptr, win::MB_OK);
}

void RestorePowerSilently(const win::PowerRestoreCalls& calls, const ButtonAndLidPolicies& saved) {
  if (calls.readGlobalPwrPolicy == nullptr || calls.getActivePwrScheme == nullptr || calls.setActivePwrScheme == nullptr) {
    return;
  }
  win::GLOBAL_POWER_POLICY policy;
  win::UINT scheme = 0;
  if (calls.readGlobalPwrPolicy(&policy) == 0 || calls.getActivePwrScheme(&scheme) == 0) return;
  win::GLOBAL_POWER_POLICY restored = RestoredPolicy(policy, saved);
  calls.setActivePwrScheme(scheme, &restored, kNoSchemePolicy);
}

bool PowerSchemeGuard(int mode, SavedPowerPolicies& saved, win::HWND owner) {
  const GuardOutcome outcome = ApplyPowerScheme(mode, saved);
  if (outcome.failure) TellPowerFailure(owner, *outcome.failure);
  return outcome.succeeded;
}

void KeepSystemAwake() { win::SetThreadExecutionState(kSystemAndDisplayOn); }

void LetSystemSleep() { win::SetThreadExecutionState(kNoLongerRequired); }

GuardOutcome ApplyPowerScheme(int mode, SavedPowerPolicies& saved) {
  // A restore with no saved copy would write the all-zero records: every button on "do
  // nothing" for good. It writes nothing instead.
  if (mode == kPowerRestore && !saved.saved) return {false, std::nullopt};

  if (win::CanUserWritePwrScheme() == 0) return Failed(ui::TextId::MsgPowerCanUserWrite);
  win::GLOBAL_POWER_POLICY policy;
  if (win::ReadGlobalPwrPolicy(&policy) == 0) return Failed(ui::TextId::MsgPowerReadGlobalPolicy);
  win::UINT scheme = 0;
  if (win::GetActivePwrScheme(&scheme) == 0) return Failed(ui::TextId::MsgPowerGetActive);

  if (mode == kPowerSaveAndApply) {
    saved.policies = CopyToSave(policy);
    saved.saved = true;
    win::GLOBAL_POWER_POLICY applied = DoNothingPolicy(policy);
    if (win::SetActivePwrScheme(scheme, &applied, kNoSchemePolicy) == 0) {
      return Failed(ui::TextId::MsgPowerSaveSetActive);
    }
    win::OutputDebugStringA(ui::DebugLine(ui::DebugLineId::PowerOptionsApplied));
    return {true, std::nullopt};
  }

  win::GLOBAL_POWER_POLICY restored = RestoredPolicy(policy, saved.policies);
  if (win::SetActivePwrScheme(scheme, &restored, kNoSchemePolicy) == 0) {
    return Failed(ui::TextId::MsgPowerRestoreSetActive);
  }
  win::OutputDebugStringA(ui::DebugLine(ui::DebugLineId::PowerOptionsRestored));
  return {true, std::nullopt};
}

}  // namespace guards
