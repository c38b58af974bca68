// Shared set-up for tests that run the program on the simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace testing_support {

inline constexpr const char* kProgramFiles = "C:\\Program Files (x86)";
inline constexpr const char* kWorkingFolder = "C:\\Program Files (x86)\\BIOSUPDATE";
inline constexpr const char* kFlashToolPath = "C:\\Program Files (x86)\\BIOSUPDATE\\WinFlash64.exe";
inline constexpr const char* kCapsulePath = "C:\\Program Files (x86)\\BIOSUPDATE\\47K31RB4.cap";
inline constexpr const char* kRunKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kFlashToolBytes = "MZ stand-in flash tool";
inline constexpr const char* kCapsuleBytes = "capsule bytes";
inline constexpr int kFlashToolId = 172;
inline constexpr int kCapsuleId = 177;
inline constexpr const char* kCompanionPath = "C:\\Program Files\\Norvik Software\\Quilden\\Brindle.exe";
inline constexpr const char* kMarkerKey = "HKU\\.DEFAULT\\Software\\NRVK\\BIOSUPDATE\\Parameters";
inline constexpr win::UINT kFinish = 0x806;

// Parameterised cases are named by their `name` field.
inline constexpr auto kByName = [](const auto& info) { return std::string(info.param.name); };

// The policy as a restore leaves it: the buttons and the lid do what they did, and their event
// codes ask the system to take the policy up again.
inline win::GLOBAL_POWER_POLICY RestoredPolicy(win::GLOBAL_POWER_POLICY policy) {
  for (win::POWER_ACTION_POLICY* p : {&policy.user.PowerButtonAc, &policy.user.PowerButtonDc, &policy.user.SleepButtonAc,
                                      &policy.user.SleepButtonDc, &policy.user.LidCloseAc, &policy.user.LidCloseDc}) {
    p->EventCode = win::POWER_FORCE_TRIGGER_RESET;
  }
  return policy;
}

// The record without the hook thread's renewals of its hooks (a new one installed, then the old
// one removed, twice a second, and their timer killed at the end), for checks of other steps.
inline std::vector<sim::CallRecord> WithoutHookRenewals(const std::vector<sim::CallRecord>& calls) {
  constexpr int kFirstInstallations = 2;
  int hookThread = -1;
  int installations = 0;
  bool renewing = false;
  std::vector<sim::CallRecord> kept;
  for (const sim::CallRecord& r : calls) {
    if (r.name == "SetWindowsHookExA" && hookThread < 0) hookThread = r.thread;
    const bool onHookThread = r.thread == hookThread && r.kind == sim::Kind::Call;
    if (onHookThread && r.name == "SetWindowsHookExA" && ++installations > kFirstInstallations) {
      renewing = true;
      continue;
    }
    if (onHookThread && r.name == "UnhookWindowsHookEx" && renewing) {
      renewing = false;
      continue;
    }
    if (onHookThread && r.name == "KillTimer") continue;
    kept.push_back(r);
  }
  return kept;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ResetMachine();
    machine().resources.Set("FILE", kFlashToolId, kFlashToolBytes);
    machine().resources.Set("FILE", kCapsuleId, kCapsuleBytes);
  }
  static sim::Machine& machine() { return sim::TheMachine(); }

  // A working folder as an interrupted earlier run leaves it.
  static void LeaveEarlierRun() {
    machine().files.AddFolder(kWorkingFolder);
    machine().files.AddFile(kFlashToolPath, "old tool");
    machine().files.AddFile(kCapsulePath, "old capsule");
  }
  static void SetKorean() { machine().SetKorean(); }

  // Runs `body` as the main thread of a process of its own.
  static sim::ProcessResult RunInProcess(const std::function<void()>& body) {
    return sim::RunProcess([&] {
      body();
      return 0;
    });
  }

  // A run that ended by itself, not stalled, with exit code 0; handed back for further checks.
  static sim::ProcessResult Ended(sim::ProcessResult result) {
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(result.stalled);
    return result;
  }

  // Runs `body` once for each value, each time on a machine set up afresh; failures name the value.
  template <typename T, typename Body>
  void OnFreshMachines(std::initializer_list<T> values, Body body) {
    for (const T& value : values) {
      SCOPED_TRACE(::testing::PrintToString(value));
      SetUp();
      body(value);
    }
  }
};

}  // namespace testing_support
