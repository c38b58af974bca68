// The machine's power management: the global power policy and the active scheme.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

struct PolicyWrite {
  std::uint64_t atMs;
  win::GLOBAL_POWER_POLICY policy;
  win::UINT scheme;
};

// A GUID as Windows spells it, lower case, e.g. "381b4222-f694-41f0-9685-ff5bb260df2e".
std::string GuidText(const win::GUID& guid);

// The AC and DC value of one power setting.
struct SettingValues {
  win::DWORD ac = 0;
  win::DWORD dc = 0;
  bool operator==(const SettingValues&) const = default;
};
// Power settings by "subgroup/setting" (GuidText of each).
using PowerSettings = std::map<std::string, SettingValues>;

// What the machine did when a button was pressed, the lid closed or sleep chosen: the action
// values of the button and lid settings.
enum class PowerOutcome : win::DWORD { Nothing = 0, Sleep = 1, Hibernate = 2, ShutDown = 3, DisplayOff = 4 };

class Power {
 public:
  Power();

  // ----- for tests -----
  bool userMayWrite = true;
  win::GLOBAL_POWER_POLICY policy;
  win::UINT activeScheme = 0;
  const std::vector<PolicyWrite>& Writes() const { return writes_; }
  // A policy of the kind a laptop ships with: buttons and lid do something, every field set.
  static win::GLOBAL_POWER_POLICY TypicalPolicy();

  // Requests to keep the machine on (SetThreadExecutionState with ES_CONTINUOUS): the state
  // each thread holds now, and every change in order.
  struct ExecutionStateChange {
    std::uint64_t atMs;
    int thread;
    win::DWORD state;
  };
  const std::vector<ExecutionStateChange>& ExecutionStateChanges() const { return stateChanges_; }
  // Whether any thread keeps the system (or the display) on.
  bool KeptAwake() const;
  // The system drops a process's requests when it ends; a test sees whether one was left to it.
  bool awakeAtProcessEnd = false;

  // ----- power settings, Vista and later -----
  // Windows 10 and 11 act on the settings of the active scheme, named by GUID, not on the global
  // policy above: a write of that policy changes no setting in force. A setting written to a
  // scheme's store takes effect when PowerSetActiveScheme makes that scheme active.
  std::map<std::string, PowerSettings> schemes;  // by GuidText of the scheme
  win::GUID activeSchemeGuid;
  PowerSettings inForce;
  // Each PowerSetActiveScheme that succeeded: when, and the settings then in force.
  struct Activation {
    std::uint64_t atMs;
    PowerSettings inForce;
  };
  const std::vector<Activation>& Activations() const { return activations_; }
  // Active schemes handed out by PowerGetActiveScheme and not yet given back with LocalFree.
  int SchemesNotFreed() const { return static_cast<int>(handedOut_.size()); }

  // What the user does, answered by the setting in force for the present power source. A sleep
  // (by a button, the lid or the power menu, the Ctrl+Alt+Del screen's included) finds no sleep
  // state to enter while "allow sleep states" is off.
  PowerOutcome PressPowerButton();
  PowerOutcome PressSleepButton();
  PowerOutcome CloseLid();
  PowerOutcome ChooseSleep();

  // ----- the power supply -----
  // What GetSystemPowerStatus reports: by default a laptop on mains with its battery at 80 %.
  win::SYSTEM_POWER_STATUS supply;

  // ----- power requests (PowerCreateRequest) -----
  // The reason given and the request types set, of each request that is still open.
  struct Request {
    std::string reason;
    std::set<int> types;
  };
  std::map<const void*, Request> OpenRequests() const;
  // Whether some open request held a type when the process ended.
  bool requestHeldAtProcessEnd = false;
  // Windows 7 knows no PowerRequestExecutionRequired.
  bool knowsExecutionRequired = true;

  // ----- for the services -----
  void Write(const win::GLOBAL_POWER_POLICY& written, win::UINT scheme);
  win::GUID* HandOutActiveScheme();
  bool TakeBack(const void* memory);
  bool Activate(const win::GUID& scheme);
  std::map<const void*, Request> requests;
  win::DWORD SetExecutionState(int thread, win::DWORD flags);
  void EndProcess();

 private:
  std::vector<PolicyWrite> writes_;
  std::vector<Activation> activations_;
  std::set<const win::GUID*> handedOut_;
  PowerOutcome Sleeps(win::DWORD action) const;
  bool OnMains() const { return supply.ACLineStatus == win::AC_LINE_ONLINE; }
  std::map<int, win::DWORD> executionStates_;
  std::vector<ExecutionStateChange> stateChanges_;
};

}  // namespace sim
