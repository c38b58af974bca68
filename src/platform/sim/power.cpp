// Power management, and the seam calls of powrprof.dll.
#include "platform/sim/power.h"

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr win::DWORD kSleep = 2;      // PowerActionSleep
constexpr win::DWORD kHibernate = 3;  // PowerActionHibernate
constexpr win::DWORD kShutdown = 6;   // PowerActionShutdownOff
constexpr win::ULONG kUiFlags = 0x00000001;          // POWER_ACTION_QUERY_ALLOWED
constexpr win::ULONG kOtherFlags = 0x00000004;       // POWER_ACTION_UI_ALLOWED
constexpr win::ULONG kEventCode = 0x00000002;        // POWER_USER_NOTIFY_BUTTON
constexpr win::ULONG kRevision = 1;
constexpr win::ULONG kGlobalFlags = 0x1B;
constexpr win::UINT kBalancedScheme = 1;

}  // namespace

Power::Power() : policy(TypicalPolicy()), activeScheme(kBalancedScheme) {}

win::GLOBAL_POWER_POLICY Power::TypicalPolicy() {
  win::GLOBAL_POWER_POLICY p;
  p.user.Revision = kRevision;
  p.user.PowerButtonAc = {kSleep, kUiFlags, kEventCode};
  p.user.PowerButtonDc = {kHibernate, kUiFlags, kEventCode};
  p.user.SleepButtonAc = {kSleep, kOtherFlags, kEventCode};
  p.user.SleepButtonDc = {kSleep, kOtherFlags, 0};
  p.user.LidCloseAc = {kShutdown, 0, 0};
  p.user.LidCloseDc = {kHibernate, kOtherFlags, kEventCode};
  for (int i = 0; i < win::NUM_DISCHARGE_POLICIES; ++i) {
    win::SYSTEM_POWER_LEVEL& level = p.user.DischargePolicy[i];
    level.Enable = 1;
    level.BatteryLevel = static_cast<win::ULONG>(10 - 2 * i);
    level.PowerPolicy = {kHibernate, kUiFlags, kEventCode};
    level.MinSystemState = 4;
  }
  p.user.GlobalFlags = kGlobalFlags;
  p.mach.Revision = kRevision;
  p.mach.LidOpenWakeAc = 1;
  p.mach.LidOpenWakeDc = 1;
  p.mach.BroadcastCapacityResolution = 25;
  return p;
}

void Power::Write(const win::GLOBAL_POWER_POLICY& written, win::UINT scheme) {
  policy = written;
  activeScheme = scheme;
  writes_.push_back({TheMachine().Now(), written, scheme});
}

bool Power::KeptAwake() const {
  for (const auto& [thread, state] : executionStates_) {
    if ((state & (win::ES_SYSTEM_REQUIRED | win::ES_DISPLAY_REQUIRED)) != 0) return true;
  }
  return false;
}

// With ES_CONTINUOUS the flags become the thread's lasting state; without it they only reset
// the idle timers once. The previous state is returned, ES_CONTINUOUS included.
win::DWORD Power::SetExecutionState(int thread, win::DWORD flags) {
  const win::DWORD previous = executionStates_[thread];
  if ((flags & win::ES_CONTINUOUS) != 0) {
    executionStates_[thread] = flags & ~win::ES_CONTINUOUS;
    stateChanges_.push_back({TheMachine().Now(), thread, flags});
  }
  return previous | win::ES_CONTINUOUS;
}

void Power::EndProcess() {
  awakeAtProcessEnd = KeptAwake();
  executionStates_.clear();
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }

BOOLEAN Failed(const sim::Failure& failure) {
  M().SetLastError(failure.error != 0 ? failure.error : ERROR_ACCESS_DENIED);
  return 0;
}

}  // namespace

BOOLEAN CanUserWritePwrScheme() {
  M().Log("CanUserWritePwrScheme");
  if (const auto failure = M().Consult("CanUserWritePwrScheme")) return Failed(*failure);
  if (!M().power.userMayWrite) {
    M().SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return 1;
}

BOOLEAN ReadGlobalPwrPolicy(GLOBAL_POWER_POLICY* policy) {
  M().Log("ReadGlobalPwrPolicy");
  if (const auto failure = M().Consult("ReadGlobalPwrPolicy")) return Failed(*failure);
  *policy = M().power.policy;
  return 1;
}

BOOLEAN GetActivePwrScheme(UINT* scheme) {
  M().Log("GetActivePwrScheme");
  if (const auto failure = M().Consult("GetActivePwrScheme")) return Failed(*failure);
  *scheme = M().power.activeScheme;
  return 1;
}

BOOLEAN SetActivePwrScheme(UINT scheme, GLOBAL_POWER_POLICY* globalPolicy, void* powerPolicy) {
  M().Log("SetActivePwrScheme", {scheme, globalPolicy != nullptr ? 1 : 0, powerPolicy != nullptr ? 1 : 0});
  if (const auto failure = M().Consult("SetActivePwrScheme")) return Failed(*failure);
  M().power.Write(globalPolicy != nullptr ? *globalPolicy : M().power.policy, scheme);
  return 1;
}

// The calls are the seam's own: what they do and record is the same whichever way they are reached.
PowerRestoreCalls ResolvePowerRestoreCalls() {
  M().Log("ResolvePowerRestoreCalls");
  if (M().Consult("ResolvePowerRestoreCalls")) return {};
  return {&ReadGlobalPwrPolicy, &GetActivePwrScheme, &SetActivePwrScheme};
}

DWORD SetThreadExecutionState(DWORD flags) {
  M().Log("SetThreadExecutionState", {flags});
  if (const auto failure = M().Consult("SetThreadExecutionState")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_INVALID_PARAMETER);
    return 0;
  }
  return M().power.SetExecutionState(M().CurrentThread(), flags);
}

}  // namespace win
