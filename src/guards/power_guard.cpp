#include "guards/power_guard.h"

#include "guards/input_lock.h"
#include "platform/handle.h"
#include "platform/services.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace guards {
namespace {

// No scheme-specific policy is written: only the global one changes.
constexpr win::POWER_ACTION_POLICY* kNoSchemePolicy = nullptr;

GuardOutcome Failed(ui::TextId message) { return {false, message}; }

// The settings the guard turns off, as Windows names them.
struct PowerSettingId {
  win::GUID subgroup;
  win::GUID setting;
};
constexpr win::GUID kButtonsSubgroup{0x4f971e89, 0xeebd, 0x4455, {0xa8, 0xde, 0x9e, 0x59, 0x04, 0x0e, 0x73, 0x47}};
constexpr win::GUID kSleepSubgroup{0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
constexpr std::array<PowerSettingId, kGuardedSettings> kGuardedSettingIds{{
    {kButtonsSubgroup, {0x7648efa3, 0xdd9c, 0x4e3e, {0xb5, 0x66, 0x50, 0xf9, 0x29, 0x38, 0x62, 0x80}}},  // power button
    {kButtonsSubgroup, {0x96996bc0, 0xad50, 0x47ec, {0x92, 0x3b, 0x6f, 0x41, 0x87, 0x4d, 0xd9, 0xeb}}},  // sleep button
    {kButtonsSubgroup, {0x5ca83367, 0x6e45, 0x459f, {0xa2, 0x7b, 0x47, 0x6b, 0x1d, 0x01, 0xc9, 0x36}}},  // lid close
    {kSleepSubgroup, {0xabfc2519, 0x3608, 0x4c2a, {0x94, 0xea, 0x17, 0x1b, 0x0e, 0xd5, 0x46, 0xab}}},    // allow sleep states
}};
constexpr int kAc = 0;
constexpr int kDc = 1;
// The current user's power settings.
constexpr win::HKEY kUserPowerRoot = nullptr;

// Reads the active scheme and the guarded values; what cannot be read stays unread.
void ReadSettings(SavedPowerSettings& saved) {
  saved = {};
  win::GUID* active = nullptr;
  if (win::PowerGetActiveScheme(kUserPowerRoot, &active) != win::ERROR_SUCCESS || active == nullptr) return;
  saved.scheme = *active;
  saved.schemeRead = true;
  win::LocalFree(active);
  for (int i = 0; i < kGuardedSettings; ++i) {
    const PowerSettingId& id = kGuardedSettingIds[static_cast<std::size_t>(i)];
    auto& values = saved.values[static_cast<std::size_t>(i)];
    values[kAc].read = win::PowerReadACValueIndex(kUserPowerRoot, &saved.scheme, &id.subgroup, &id.setting,
                                                  &values[kAc].value) == win::ERROR_SUCCESS;
    values[kDc].read = win::PowerReadDCValueIndex(kUserPowerRoot, &saved.scheme, &id.subgroup, &id.setting,
                                                  &values[kDc].value) == win::ERROR_SUCCESS;
  }
}

// Writes every value that was read, on the scheme read (nothing or the value as read), and puts
// the scheme in force, which is when Windows takes the values up. Every write is tried even after
// one failed; true when all of them and the activation succeeded. Plain calls on plain data: a
// crash's restore runs it too.
bool WriteSettings(const SavedPowerSettings& saved, bool doNothing) {
  if (!saved.schemeRead) return true;
  bool all = true;
  for (int i = 0; i < kGuardedSettings; ++i) {
    const PowerSettingId& id = kGuardedSettingIds[static_cast<std::size_t>(i)];
    const auto& values = saved.values[static_cast<std::size_t>(i)];
    if (values[kAc].read) {
      all = win::PowerWriteACValueIndex(kUserPowerRoot, &saved.scheme, &id.subgroup, &id.setting,
                                        doNothing ? kSettingDoesNothing : values[kAc].value) == win::ERROR_SUCCESS && all;
    }
    if (values[kDc].read) {
      all = win::PowerWriteDCValueIndex(kUserPowerRoot, &saved.scheme, &id.subgroup, &id.setting,
                                        doNothing ? kSettingDoesNothing : values[kDc].value) == win::ERROR_SUCCESS && all;
    }
  }
  return win::PowerSetActiveScheme(kUserPowerRoot, &saved.scheme) == win::ERROR_SUCCESS && all;
}

constexpr bool kDoNothing = true;
constexpr bool kAsSaved = false;

constexpr win::DWORD kSystemAndDisplayOn = win::ES_CONTINUOUS | win::ES_SYSTEM_REQUIRED | win::ES_DISPLAY_REQUIRED;
constexpr win::DWORD kNoLongerRequired = win::ES_CONTINUOUS;

// The request's kinds: the display on, the system on, and (Windows 8 and later; Windows 7 refuses
// that one alone) the process running even where the system would enter standby.
constexpr std::array kRequestTypes{win::PowerRequestDisplayRequired, win::PowerRequestSystemRequired,
                                   win::PowerRequestExecutionRequired};

// The power request from the lock to the finish, and the kinds Windows took. Owned here, like
// the input lock's hooks, for the whole process.
win::UniqueKernelHandle g_powerRequest;
std::array<bool, kRequestTypes.size()> g_requestSet{};

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

void RestorePowerSilently(const win::PowerRestoreCalls& calls, const SavedPowerPolicies& saved) {
  if (!saved.saved) return;
  // The settings' calls were looked up by the save that read them: plain calls on plain data.
  WriteSettings(saved.settings, kAsSaved);
  if (calls.readGlobalPwrPolicy == nullptr || calls.getActivePwrScheme == nullptr || calls.setActivePwrScheme == nullptr) {
    return;
  }
  win::GLOBAL_POWER_POLICY policy;
  win::UINT scheme = 0;
  if (calls.readGlobalPwrPolicy(&policy) == 0 || calls.getActivePwrScheme(&scheme) == 0) return;
  win::GLOBAL_POWER_POLICY restored = RestoredPolicy(policy, saved.policies);
  calls.setActivePwrScheme(scheme, &restored, kNoSchemePolicy);
}

bool PowerSchemeGuard(int mode, SavedPowerPolicies& saved, win::HWND owner) {
  const GuardOutcome outcome = ApplyPowerScheme(mode, saved);
  if (outcome.failure) TellPowerFailure(owner, *outcome.failure);
  return outcome.succeeded;
}

void KeepSystemAwake() {
  win::SetThreadExecutionState(kSystemAndDisplayOn);
  // Unlike the execution state, a power request also keeps the screen saver off, and powercfg
  // /requests names the program with its reason.
  const std::u16string reason = ui::UiWideText(ui::TextId::ShutdownBlockReason);
  if (g_powerRequest.Valid() || reason.empty()) return;
  g_powerRequest = win::UniqueKernelHandle(win::PowerCreateRequest(reason.c_str()));
  if (!g_powerRequest.Valid()) return;
  for (std::size_t i = 0; i < kRequestTypes.size(); ++i) {
    g_requestSet[i] = win::PowerSetRequest(g_powerRequest.Get(), kRequestTypes[i]) != win::FALSE;
  }
}

void LetSystemSleep() {
  if (g_powerRequest.Valid()) {
    for (std::size_t i = 0; i < kRequestTypes.size(); ++i) {
      if (g_requestSet[i]) win::PowerClearRequest(g_powerRequest.Get(), kRequestTypes[i]);
      g_requestSet[i] = false;
    }
    g_powerRequest.Close();
  }
  win::SetThreadExecutionState(kNoLongerRequired);
}

GuardOutcome ApplyPowerScheme(int mode, SavedPowerPolicies& saved) {
  // A restore with no saved copy would write the all-zero records: every button on "do
  // nothing" for good. It writes nothing instead.
  if (mode == kPowerRestore && !saved.saved) return {false, std::nullopt};
  // The settings go back even when a step of the legacy restore below fails.
  const bool settingsBack = mode != kPowerRestore || WriteSettings(saved.settings, kAsSaved);

  if (win::CanUserWritePwrScheme() == 0) return Failed(ui::TextId::MsgPowerCanUserWrite);
  win::GLOBAL_POWER_POLICY policy;
  if (win::ReadGlobalPwrPolicy(&policy) == 0) return Failed(ui::TextId::MsgPowerReadGlobalPolicy);
  win::UINT scheme = 0;
  if (win::GetActivePwrScheme(&scheme) == 0) return Failed(ui::TextId::MsgPowerGetActive);

  if (mode == kPowerSaveAndApply) {
    saved.policies = CopyToSave(policy);
    saved.saved = true;
    ReadSettings(saved.settings);
    win::GLOBAL_POWER_POLICY applied = DoNothingPolicy(policy);
    if (win::SetActivePwrScheme(scheme, &applied, kNoSchemePolicy) == 0) {
      return Failed(ui::TextId::MsgPowerSaveSetActive);
    }
    saved.applied = true;
    if (!WriteSettings(saved.settings, kDoNothing)) return Failed(ui::TextId::MsgPowerSaveSetActive);
    win::OutputDebugStringA(ui::DebugLine(ui::DebugLineId::PowerOptionsApplied));
    return {true, std::nullopt};
  }

  win::GLOBAL_POWER_POLICY restored = RestoredPolicy(policy, saved.policies);
  if (win::SetActivePwrScheme(scheme, &restored, kNoSchemePolicy) == 0) {
    return Failed(ui::TextId::MsgPowerRestoreSetActive);
  }
  if (!settingsBack) return Failed(ui::TextId::MsgPowerRestoreSetActive);
  win::OutputDebugStringA(ui::DebugLine(ui::DebugLineId::PowerOptionsRestored));
  return {true, std::nullopt};
}

GuardOutcome LockPowerAgain(SavedPowerPolicies& saved) {
  if (!saved.saved) return {false, std::nullopt};
  if (win::CanUserWritePwrScheme() == 0) return Failed(ui::TextId::MsgPowerCanUserWrite);
  win::GLOBAL_POWER_POLICY policy;
  if (win::ReadGlobalPwrPolicy(&policy) == 0) return Failed(ui::TextId::MsgPowerReadGlobalPolicy);
  win::UINT scheme = 0;
  if (win::GetActivePwrScheme(&scheme) == 0) return Failed(ui::TextId::MsgPowerGetActive);
  // The policy as read now has the saved flags back after the restore: the same as the save's.
  win::GLOBAL_POWER_POLICY applied = DoNothingPolicy(policy);
  const bool legacy = win::SetActivePwrScheme(scheme, &applied, kNoSchemePolicy) != 0;
  const bool settings = WriteSettings(saved.settings, kDoNothing);
  if (!legacy || !settings) return Failed(ui::TextId::MsgPowerSaveSetActive);
  return {true, std::nullopt};
}

}  // namespace guards
