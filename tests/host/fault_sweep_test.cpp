// Every failure of every outside call, survived. Each scenario is run once to record the calls
// it makes that can fail; then it is run again once per (call, occurrence) with exactly that
// call failing, and the machine is checked afterwards: the run ended once with exit code 0,
// and nothing is left locked, stopped or behind. The list of faults comes from the recorded
// run, so a call added later is covered without editing this test.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace {

using namespace testing_support;

constexpr std::uint64_t kFlashRunMs = 2000;
// A call made more often than this (every frame, every tick) is failed at its first
// occurrences, at every tenth and at its last: the same code runs each time.
constexpr int kEveryOccurrenceUpTo = 12;
constexpr int kSampleEvery = 10;

struct Scenario {
  const char* name;
  const char* arguments;
  std::optional<std::u16string> bios;
  bool capsuleResource = true;
  bool bitLockerOn = false;
};

std::ostream& operator<<(std::ostream& os, const Scenario& s) { return os << s.name; }

class FaultSweep : public SimTest, public ::testing::WithParamInterface<Scenario> {
 protected:
  void Prepare() {
    sim::ResetMachine();
    SimTest::SetUp();
    machine().processes.InstallCompanion(kCompanionPath);
    machine().processes.StartByUser(kCompanionPath);
    machine().processes.flashTool.runMs = kFlashRunMs;
    machine().wmi.biosVersions = {GetParam().bios};
    if (!GetParam().capsuleResource) machine().resources.Remove("FILE", kCapsuleId);
    if (GetParam().bitLockerOn) machine().bitLocker.protection = sim::Protection::On;
    machine().windows.ScriptAnswer(win::IDYES);
    // Every later box (the failure messages) is answered OK a moment later.
    for (int i = 0; i < 8; ++i) machine().windows.ScriptAnswer(win::IDOK, 300);
  }

  static std::vector<std::pair<std::string, int>> FaultsOf(const std::vector<std::pair<std::string, int>>& calls) {
    std::map<std::string, int> counts;
    for (const auto& [name, nth] : calls) counts[name] = std::max(counts[name], nth);
    std::vector<std::pair<std::string, int>> faults;
    for (const auto& [name, count] : counts) {
      for (int nth = 1; nth <= count; ++nth) {
        if (nth <= kEveryOccurrenceUpTo || nth % kSampleEvery == 0 || nth == count) faults.emplace_back(name, nth);
      }
    }
    return faults;
  }

  // What must hold after any run; empty when it does.
  std::string Violations(const sim::ProcessResult& result, const std::string& failing) const {
    std::string problems;
    const auto problem = [&](const std::string& text) { problems += text + "; "; };
    if (result.stalled) problem("stalled");
    if (result.exitCode != 0) problem("exit code " + std::to_string(result.exitCode));
    if (machine().CountCalls("ProcessEnd") != 1) problem("did not end once");

    if (!(machine().power.policy == original_) && !(machine().power.policy == RestoredPolicy(original_))) {
      problem("power policy left changed");
    }
    // What Windows 10 and 11 obey: the settings in force and those stored in each scheme.
    if (machine().power.inForce != originalSettings_) problem("power settings in force left changed");
    if (machine().power.schemes != originalSchemes_) problem("power settings stored left changed");
    if (machine().power.SchemesNotFreed() != 0) problem("active scheme not freed");
    if (machine().power.requestHeldAtProcessEnd) problem("power request left to the end of the process");
    // A hook whose removal the system refused goes with the process, which ends right after.
    if (machine().hooks.leftAtProcessEnd != 0 && failing != "UnhookWindowsHookEx") problem("hook left installed");
    // The request to keep the machine on belongs to the window's thread, which ends with the
    // process right after a drop the system refused.
    if (machine().power.awakeAtProcessEnd && failing != "SetThreadExecutionState") problem("kept awake after the run");
    // While the buttons did nothing, the machine was kept awake (unless the request failed). A
    // save-and-apply that failed half-way is undone before anything else is locked: nothing ran
    // that needed the machine awake.
    bool buttonsOff = false;
    for (const sim::PolicyWrite& w : machine().power.Writes()) {
      buttonsOff = buttonsOff || w.policy.user.PowerButtonAc.Action == win::PowerActionNone;
    }
    const auto& awake = machine().power.ExecutionStateChanges();
    if (buttonsOff && machine().hooks.everInstalled > 0 && failing != "SetThreadExecutionState" &&
        (awake.empty() || awake.front().state != 0x80000003u || awake.front().atMs > machine().power.Writes().front().atMs)) {
      problem("not kept awake from the save-and-apply");
    }
    if (!awake.empty() && awake.back().state == 0x80000000u && awake.back().atMs < machine().power.Writes().back().atMs) {
      problem("sleep allowed before the restore");
    }
    // The relaunch is tried at both paths; one the system refused to start is not retried.
    if (machine().processes.RunningCount("Brindle.exe") < 1 && failing != "ShellExecuteA") {
      problem("companion not running");
    }
    const bool cleanUpFailed = failing == "DeleteFileA" || failing == "RemoveDirectoryA" ||
                               failing == "SHGetFolderPathA";
    if (machine().files.FolderExists(kWorkingFolder) && !cleanUpFailed) problem("working folder left");
    for (const sim::FlashRecord& flash : machine().processes.Flashes()) {
      if (!flash.capsuleFound || flash.capsuleBytes != kCapsuleBytes) problem("flashed an incomplete capsule");
      if (GetParam().bios != u"47K31RA9") problem("flashed against the verdict");
    }
    if (machine().bitLocker.LeftOffWithoutCount()) problem("BitLocker left off with no restart to turn it on");
    // Suspended for a restart that no flash needed: the resume was at least tried.
    bool resumeTried = false;
    for (const sim::CallRecord& r : machine().Calls()) {
      resumeTried = resumeTried || (r.name == "CreateProcessA" && r.Text().find(" -protectors -enable C:") != std::string::npos);
    }
    if (GetParam().bitLockerOn && machine().processes.Flashes().empty() &&
        machine().bitLocker.protection != sim::Protection::On && !resumeTried) {
      problem("BitLocker left suspended though nothing was flashed");
    }
    const bool marker = machine().registry.ValueOf(kMarkerKey, "Version").has_value();
    bool toolNotStarted = false;
    for (const sim::MessageBoxRecord& box : machine().windows.MessageBoxes()) {
      toolNotStarted = toolNotStarted || box.text == "Cannot excute WinFlash64.exe";
    }
    if (marker && toolNotStarted) problem("marker written though nothing was flashed");
    bool finishPosted = false;
    for (const sim::CallRecord& r : machine().Calls()) {
      finishPosted = finishPosted || (r.name == "PostMessageA" && r.thread != 0 && r.args[0] == sim::Arg(kFinish));
    }
    const bool registryFailed = failing == "RegOpenKeyExA" || failing == "RegCreateKeyA" || failing == "RegSetValueExA";
    // The worker reaches the finish on a refusal or after a flash: both write the marker.
    if (finishPosted && !toolNotStarted && !marker && !registryFailed) problem("marker missing");
    return problems;
  }

  win::GLOBAL_POWER_POLICY original_ = sim::Power::TypicalPolicy();
  sim::PowerSettings originalSettings_ = sim::Power().inForce;
  std::map<std::string, sim::PowerSettings> originalSchemes_ = sim::Power().schemes;
};

TEST_P(FaultSweep, EveryFailureOfEveryCallIsSurvived) {
  Prepare();
  const sim::ProcessResult clean = sim::RunProcess(GetParam().arguments);
  ASSERT_TRUE(Violations(clean, "").empty()) << Violations(clean, "");
  const std::vector<std::pair<std::string, int>> faults = FaultsOf(machine().FailableCalls());

  std::map<std::string, std::pair<int, int>> byCall;  // injected, survived
  for (const auto& [call, nth] : faults) {
    Prepare();
    machine().FailCall(call, {.occurrence = nth});
    const sim::ProcessResult result = sim::RunProcess(GetParam().arguments);
    const std::string problems = Violations(result, call);
    auto& [injected, survived] = byCall[call];
    ++injected;
    if (problems.empty()) {
      ++survived;
    } else {
      ADD_FAILURE() << call << " #" << nth << " failing: " << problems;
    }
  }
  int injected = 0;
  int survived = 0;
  std::string table;
  for (const auto& [call, counts] : byCall) {
    injected += counts.first;
    survived += counts.second;
    table += "  " + call + " " + std::to_string(counts.second) + "/" + std::to_string(counts.first) + "\n";
  }
  std::printf("%s: %d faults injected, %d survived\n%s", GetParam().name, injected, survived, table.c_str());
  EXPECT_EQ(injected, survived);
  EXPECT_GT(injected, 0);
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultSweep,
                         ::testing::Values(Scenario{"Update", "", u"47K31RA9"},
                                           Scenario{"SameVersion", "", u"47K31RB4"},
                                           Scenario{"NewerVersion", "", u"47K31RC1"},
                                           Scenario{"WrongModel", "", u"47K32RB4"},
                                           Scenario{"NoCapsule", "", u"47K31RA9", false},
                                           Scenario{"CleanUpMode", "1", u"47K31RA9"},
                                           Scenario{"UpdateOnBitLockerVolume", "", u"47K31RA9", true, true}),
                         kByName);

}  // namespace
