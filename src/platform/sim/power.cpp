// Power management, and the seam calls of powrprof.dll.
#include "platform/sim/power.h"

#include <cstdio>

#include "platform/services.h"
#include "platform/sim/charsets.h"
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

// The schemes and settings as Windows names them.
constexpr win::GUID kBalanced{0x381b4222, 0xf694, 0x41f0, {0x96, 0x85, 0xff, 0x5b, 0xb2, 0x60, 0xdf, 0x2e}};
constexpr win::GUID kPowerSaver{0xa1841308, 0x3541, 0x4fab, {0xbc, 0x81, 0xf7, 0x15, 0x56, 0xf2, 0x0b, 0x4a}};
constexpr win::GUID kButtons{0x4f971e89, 0xeebd, 0x4455, {0xa8, 0xde, 0x9e, 0x59, 0x04, 0x0e, 0x73, 0x47}};
constexpr win::GUID kPowerButton{0x7648efa3, 0xdd9c, 0x4e3e, {0xb5, 0x66, 0x50, 0xf9, 0x29, 0x38, 0x62, 0x80}};
constexpr win::GUID kSleepButton{0x96996bc0, 0xad50, 0x47ec, {0x92, 0x3b, 0x6f, 0x41, 0x87, 0x4d, 0xd9, 0xeb}};
constexpr win::GUID kLidClose{0x5ca83367, 0x6e45, 0x459f, {0xa2, 0x7b, 0x47, 0x6b, 0x1d, 0x01, 0xc9, 0x36}};
constexpr win::GUID kSleepGroup{0x238c9fa8, 0x0aad, 0x41ed, {0x83, 0xf4, 0x97, 0xbe, 0x24, 0x2c, 0x8f, 0x20}};
constexpr win::GUID kAllowSleep{0xabfc2519, 0x3608, 0x4c2a, {0x94, 0xea, 0x17, 0x1b, 0x0e, 0xd5, 0x46, 0xab}};
// A setting the updater leaves alone: the idle time to sleep, in seconds.
constexpr win::GUID kSleepAfter{0x29f6c1db, 0x86da, 0x48c5, {0x9f, 0xdb, 0xf2, 0xb6, 0x7b, 0x1f, 0x44, 0xda}};

std::string Key(const win::GUID& subgroup, const win::GUID& setting) { return GuidText(subgroup) + "/" + GuidText(setting); }

constexpr win::BYTE kChargedPercent = 80;
constexpr win::BYTE kBatteryHigh = 0x01;

}  // namespace

std::string GuidText(const win::GUID& g) {
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// A laptop as it ships: on Balanced, the power button shuts down on mains and sleeps on the
// battery, the sleep button sleeps or hibernates, the lid sleeps or hibernates, sleep allowed.
Power::Power() : policy(TypicalPolicy()), activeScheme(kBalancedScheme), activeSchemeGuid(kBalanced) {
  schemes[GuidText(kBalanced)] = {{Key(kButtons, kPowerButton), {3, 1}},
                                  {Key(kButtons, kSleepButton), {1, 2}},
                                  {Key(kButtons, kLidClose), {1, 2}},
                                  {Key(kSleepGroup, kAllowSleep), {1, 1}},
                                  {Key(kSleepGroup, kSleepAfter), {1800, 900}}};
  schemes[GuidText(kPowerSaver)] = {{Key(kButtons, kPowerButton), {1, 1}},
                                    {Key(kButtons, kSleepButton), {1, 1}},
                                    {Key(kButtons, kLidClose), {1, 1}},
                                    {Key(kSleepGroup, kAllowSleep), {1, 1}},
                                    {Key(kSleepGroup, kSleepAfter), {600, 300}}};
  inForce = schemes[GuidText(kBalanced)];
  supply.ACLineStatus = win::AC_LINE_ONLINE;
  supply.BatteryFlag = kBatteryHigh;
  supply.BatteryLifePercent = kChargedPercent;
}

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
  for (const auto& [handle, request] : OpenRequests()) requestHeldAtProcessEnd = requestHeldAtProcessEnd || !request.types.empty();
  requests.clear();
}

std::map<const void*, Power::Request> Power::OpenRequests() const {
  std::map<const void*, Request> open;
  for (const auto& [handle, request] : requests) {
    if (TheMachine().HandleKind(handle) == "PowerRequest") open[handle] = request;
  }
  return open;
}

win::GUID* Power::HandOutActiveScheme() {
  auto* copy = new win::GUID(activeSchemeGuid);
  handedOut_.insert(copy);
  return copy;
}

bool Power::TakeBack(const void* memory) {
  const auto it = handedOut_.find(static_cast<const win::GUID*>(memory));
  if (it == handedOut_.end()) return false;
  delete *it;
  handedOut_.erase(it);
  return true;
}

bool Power::Activate(const win::GUID& scheme) {
  const auto it = schemes.find(GuidText(scheme));
  if (it == schemes.end()) return false;
  activeSchemeGuid = scheme;
  inForce = it->second;
  activations_.push_back({TheMachine().Now(), inForce});
  return true;
}

PowerOutcome Power::Sleeps(win::DWORD action) const {
  const auto allow = inForce.find(Key(kSleepGroup, kAllowSleep));
  const bool sleepAvailable = allow == inForce.end() || (OnMains() ? allow->second.ac : allow->second.dc) != 0;
  const auto outcome = static_cast<PowerOutcome>(action);
  return outcome == PowerOutcome::Sleep && !sleepAvailable ? PowerOutcome::Nothing : outcome;
}

PowerOutcome Power::PressPowerButton() {
  const SettingValues v = inForce[Key(kButtons, kPowerButton)];
  return Sleeps(OnMains() ? v.ac : v.dc);
}

PowerOutcome Power::PressSleepButton() {
  const SettingValues v = inForce[Key(kButtons, kSleepButton)];
  return Sleeps(OnMains() ? v.ac : v.dc);
}

PowerOutcome Power::CloseLid() {
  const SettingValues v = inForce[Key(kButtons, kLidClose)];
  return Sleeps(OnMains() ? v.ac : v.dc);
}

PowerOutcome Power::ChooseSleep() { return Sleeps(static_cast<win::DWORD>(PowerOutcome::Sleep)); }

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

namespace {

DWORD FailedWith(const sim::Failure& failure, DWORD usual) { return failure.error != 0 ? failure.error : usual; }

DWORD ReadValueIndex(const char* name, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value,
                     bool ac) {
  M().Log(name, {sim::GuidText(*setting), sim::GuidText(*scheme)});
  if (const auto failure = M().Consult(name)) return FailedWith(*failure, ERROR_ACCESS_DENIED);
  const auto it = M().power.schemes.find(sim::GuidText(*scheme));
  if (it == M().power.schemes.end()) return ERROR_FILE_NOT_FOUND;
  const auto found = it->second.find(sim::GuidText(*subgroup) + "/" + sim::GuidText(*setting));
  if (found == it->second.end()) return ERROR_FILE_NOT_FOUND;
  *value = ac ? found->second.ac : found->second.dc;
  return ERROR_SUCCESS;
}

DWORD WriteValueIndex(const char* name, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value,
                      bool ac) {
  M().Log(name, {sim::GuidText(*setting), value, sim::GuidText(*scheme)});
  if (const auto failure = M().Consult(name)) return FailedWith(*failure, ERROR_ACCESS_DENIED);
  const auto it = M().power.schemes.find(sim::GuidText(*scheme));
  if (it == M().power.schemes.end()) return ERROR_FILE_NOT_FOUND;
  sim::SettingValues& values = it->second[sim::GuidText(*subgroup) + "/" + sim::GuidText(*setting)];
  (ac ? values.ac : values.dc) = value;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD PowerGetActiveScheme(HKEY, GUID** activeScheme) {
  M().Log("PowerGetActiveScheme");
  if (const auto failure = M().Consult("PowerGetActiveScheme")) return FailedWith(*failure, ERROR_ACCESS_DENIED);
  *activeScheme = M().power.HandOutActiveScheme();
  return ERROR_SUCCESS;
}

DWORD PowerReadACValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value) {
  return ReadValueIndex("PowerReadACValueIndex", scheme, subgroup, setting, value, true);
}

DWORD PowerReadDCValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD* value) {
  return ReadValueIndex("PowerReadDCValueIndex", scheme, subgroup, setting, value, false);
}

DWORD PowerWriteACValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value) {
  return WriteValueIndex("PowerWriteACValueIndex", scheme, subgroup, setting, value, true);
}

DWORD PowerWriteDCValueIndex(HKEY, const GUID* scheme, const GUID* subgroup, const GUID* setting, DWORD value) {
  return WriteValueIndex("PowerWriteDCValueIndex", scheme, subgroup, setting, value, false);
}

DWORD PowerSetActiveScheme(HKEY, const GUID* scheme) {
  M().Log("PowerSetActiveScheme", {sim::GuidText(*scheme)});
  if (const auto failure = M().Consult("PowerSetActiveScheme")) return FailedWith(*failure, ERROR_ACCESS_DENIED);
  return M().power.Activate(*scheme) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

void* LocalFree(void* memory) {
  M().Log("LocalFree");
  if (memory == nullptr) return nullptr;
  return M().power.TakeBack(memory) ? nullptr : memory;
}

BOOL GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
  M().Log("GetSystemPowerStatus");
  if (const auto failure = M().Consult("GetSystemPowerStatus")) {
    M().SetLastError(FailedWith(*failure, ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  *status = M().power.supply;
  return TRUE;
}

HANDLE PowerCreateRequest(const char16_t* simpleReason) {
  const std::string reason = simpleReason != nullptr ? sim::Utf8(simpleReason) : std::string("(null)");
  M().Log("PowerCreateRequest", {reason});
  if (const auto failure = M().Consult("PowerCreateRequest")) {
    M().SetLastError(FailedWith(*failure, ERROR_NOT_ENOUGH_MEMORY));
    return nullptr;
  }
  const HANDLE request = M().NewHandle("PowerRequest", reason);
  M().power.requests[request] = {reason, {}};
  return request;
}

namespace {

BOOL ChangeRequest(const char* name, HANDLE request, int type, bool set) {
  M().Log(name, {type});
  if (const auto failure = M().Consult(name)) {
    M().SetLastError(FailedWith(*failure, ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  const auto it = M().power.requests.find(request);
  const bool known = type == PowerRequestDisplayRequired || type == PowerRequestSystemRequired ||
                     (type == PowerRequestExecutionRequired && M().power.knowsExecutionRequired);
  if (it == M().power.requests.end() || M().HandleKind(request) != "PowerRequest" || !known) {
    M().SetLastError(it == M().power.requests.end() ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (set) {
    it->second.types.insert(type);
  } else {
    it->second.types.erase(type);
  }
  return TRUE;
}

}  // namespace

BOOL PowerSetRequest(HANDLE request, int type) { return ChangeRequest("PowerSetRequest", request, type, true); }

BOOL PowerClearRequest(HANDLE request, int type) { return ChangeRequest("PowerClearRequest", request, type, false); }

DWORD SetThreadExecutionState(DWORD flags) {
  M().Log("SetThreadExecutionState", {flags});
  if (const auto failure = M().Consult("SetThreadExecutionState")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_INVALID_PARAMETER);
    return 0;
  }
  return M().power.SetExecutionState(M().CurrentThread(), flags);
}

}  // namespace win
