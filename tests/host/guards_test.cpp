// The system guards on their own: the power policy rewriting and the guard's failures, the
// input lock's decisions, and the command runner and companion program.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "guards/companion.h"
#include "guards/input_lock.h"
#include "guards/power_guard.h"
#include "sequence.h"
#include "sim_fixture.h"
#include "ui/texts.h"

namespace {

using namespace testing_support;
using win::POWER_ACTION_POLICY;

constexpr win::DWORD kSleep = 2;
constexpr win::DWORD kHibernate = 3;
constexpr win::ULONG kForce = 0x80000000;
const auto kOwner = reinterpret_cast<win::HWND>(static_cast<std::uintptr_t>(0x4242));

// ----- the policy rewriting -----

TEST(PowerPolicy, ButtonOnSleepAndHibernateDoesNothingDuringTheRunAndComesBackAfter) {
  win::GLOBAL_POWER_POLICY read = sim::Power::TypicalPolicy();
  read.user.PowerButtonAc = {kSleep, 0x11, 0x2};
  read.user.PowerButtonDc = {kHibernate, 0x4, 0x0};

  const win::GLOBAL_POWER_POLICY during = guards::DoNothingPolicy(read);
  for (const POWER_ACTION_POLICY& p : guards::ButtonAndLidOf(during)) {
    EXPECT_EQ(p, (POWER_ACTION_POLICY{win::PowerActionNone, 0x11, kForce}));  // the AC button's flags for all
  }
  // Nothing but the six changes.
  win::GLOBAL_POWER_POLICY rest = during;
  guards::SetButtonAndLid(rest, guards::ButtonAndLidOf(read));
  EXPECT_EQ(rest, read);

  const win::GLOBAL_POWER_POLICY after = guards::RestoredPolicy(during, guards::CopyToSave(read));
  EXPECT_EQ(after.user.PowerButtonAc, (POWER_ACTION_POLICY{kSleep, 0x11, kForce}));
  EXPECT_EQ(after.user.PowerButtonDc, (POWER_ACTION_POLICY{kHibernate, 0x4, kForce}));
  EXPECT_EQ(after.user.DischargePolicy[2], read.user.DischargePolicy[2]);
  EXPECT_EQ(after.mach, read.mach);
}

// ----- the guard over the machine -----

class PowerGuardTest : public SimTest {
 protected:
  static bool Guard(int mode, guards::SavedPowerPolicies& saved) {
    bool ok = false;
    RunInProcess([&] { ok = guards::PowerSchemeGuard(mode, saved, kOwner); });
    return ok;
  }
};

struct GuardFailure {
  const char* call;
  int mode;
  const char* message;
};

std::ostream& operator<<(std::ostream& os, const GuardFailure& f) { return os << f.call << " in mode " << f.mode; }

class PowerGuardFailure : public PowerGuardTest, public ::testing::WithParamInterface<GuardFailure> {};

TEST_P(PowerGuardFailure, ShowsItsMessageChangesNothingMoreAndFails) {
  guards::SavedPowerPolicies saved;
  if (GetParam().mode == guards::kPowerRestore) {
    ASSERT_TRUE(Guard(guards::kPowerSaveAndApply, saved));
    machine().debugOutput.clear();
  }
  const win::GLOBAL_POWER_POLICY before = machine().power.policy;
  const std::size_t writesBefore = machine().power.Writes().size();
  machine().FailCall(GetParam().call);
  EXPECT_FALSE(Guard(GetParam().mode, saved));
  const auto& boxes = machine().windows.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, GetParam().message);
  EXPECT_EQ(boxes[0].caption, "BIOSUpdate");
  EXPECT_EQ(boxes[0].flags, win::MB_OK);
  EXPECT_EQ(boxes[0].owner, kOwner);
  EXPECT_EQ(machine().power.policy, before);
  EXPECT_EQ(machine().power.Writes().size(), writesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PowerGuardFailure,
    ::testing::Values(GuardFailure{"CanUserWritePwrScheme", 100, "CanUserWritePwrScheme Error"},
                      GuardFailure{"ReadGlobalPwrPolicy", 100, "ReadGlobalPwrPolicy Error"},
                      GuardFailure{"GetActivePwrScheme", 100, "GetActivePwrScheme Error"},
                      GuardFailure{"SetActivePwrScheme", 100, "SAVE SetActivePwrScheme Error"},
                      GuardFailure{"CanUserWritePwrScheme", 101, "CanUserWritePwrScheme Error"},
                      GuardFailure{"ReadGlobalPwrPolicy", 101, "ReadGlobalPwrPolicy Error"},
                      GuardFailure{"GetActivePwrScheme", 101, "GetActivePwrScheme Error"},
                      GuardFailure{"SetActivePwrScheme", 101, "RESTORE SetActivePwrScheme Error"}));

TEST_F(PowerGuardTest, UserWhoMayNotWriteSchemesIsRefused) {
  machine().power.userMayWrite = false;
  guards::SavedPowerPolicies saved;
  EXPECT_FALSE(Guard(guards::kPowerSaveAndApply, saved));
  EXPECT_EQ(machine().windows.MessageBoxes()[0].text, "CanUserWritePwrScheme Error");
  EXPECT_TRUE(machine().power.Writes().empty());
}

// Each pass asks its four calls in order and writes the global policy alone, with the scheme
// index read anew: another scheme chosen between the save and the restores is the one written.
// Both restores write the same saved copy into the policy as it is then.
TEST_F(PowerGuardTest, SaveThenTwoRestoresReadTheSchemeAnewAndWriteTheSameCopy) {
  guards::SavedPowerPolicies saved;
  ASSERT_TRUE(Guard(guards::kPowerSaveAndApply, saved));
  machine().power.activeScheme = 3;
  machine().power.policy.user.GlobalFlags = 0x77;
  ASSERT_TRUE(Guard(guards::kPowerRestore, saved));
  ASSERT_TRUE(Guard(guards::kPowerRestore, saved));
  std::vector<Expected> expected;
  for (const auto& [scheme, line] : {std::pair{1, ui::DebugLineId::PowerOptionsApplied},
                                     {3, ui::DebugLineId::PowerOptionsRestored},
                                     {3, ui::DebugLineId::PowerOptionsRestored}}) {
    expected.insert(expected.end(), {{"CanUserWritePwrScheme"}, {"ReadGlobalPwrPolicy"}, {"GetActivePwrScheme"},
                                     {"SetActivePwrScheme", {scheme, 1, 0}},  // a global policy, no scheme policy
                                     {"OutputDebugStringA", {ui::DebugLine(line)}}});
  }
  EXPECT_TRUE(MatchesSequence(machine().Calls(), expected));
  const auto& writes = machine().power.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[1].policy, writes[2].policy);
  EXPECT_EQ(writes[2].policy.user.GlobalFlags, 0x77u);
}

// The power settings' failures are told with the box of the legacy step they belong to.
TEST_F(PowerGuardTest, PowerSettingsThatFailAreToldWithTheBoxOfTheirStep) {
  const struct {
    const char* call;
    int mode;
    const char* message;
  } cases[] = {{"PowerSetActiveScheme", 100, "SAVE SetActivePwrScheme Error"},
               {"PowerWriteDCValueIndex", 100, "SAVE SetActivePwrScheme Error"},
               {"PowerSetActiveScheme", 101, "RESTORE SetActivePwrScheme Error"},
               {"PowerWriteACValueIndex", 101, "RESTORE SetActivePwrScheme Error"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " in mode " + std::to_string(c.mode));
    SetUp();
    guards::SavedPowerPolicies saved;
    if (c.mode == guards::kPowerRestore) {
      ASSERT_TRUE(Guard(guards::kPowerSaveAndApply, saved));
    }
    machine().FailCall(c.call);
    EXPECT_FALSE(Guard(c.mode, saved));
    ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
    EXPECT_EQ(machine().windows.MessageBoxes()[0].text, c.message);
  }
}

// A value that could not be read is neither written nor restored; the others are.
TEST_F(PowerGuardTest, SettingThatCannotBeReadIsLeftAlone) {
  const std::string powerButton = "4f971e89-eebd-4455-a8de-9e59040e7347/7648efa3-dd9c-4e3e-b566-50f929386280";
  machine().FailCall("PowerReadACValueIndex");  // the first: the power button on mains
  guards::SavedPowerPolicies saved;
  ASSERT_TRUE(Guard(guards::kPowerSaveAndApply, saved));
  EXPECT_EQ(machine().power.inForce[powerButton], (sim::SettingValues{3, 0}));
  machine().power.inForce[powerButton].ac = 4;
  machine().power.schemes["381b4222-f694-41f0-9685-ff5bb260df2e"][powerButton].ac = 4;
  ASSERT_TRUE(Guard(guards::kPowerRestore, saved));
  EXPECT_EQ(machine().power.inForce[powerButton], (sim::SettingValues{4, 1}));
  EXPECT_EQ(machine().CountCalls("PowerWriteACValueIndex"), 6);
}

TEST_F(PowerGuardTest, FailedApplyStillKeepsTheCopyForTheRestore) {
  guards::SavedPowerPolicies saved;
  machine().FailCall("SetActivePwrScheme");
  EXPECT_FALSE(Guard(guards::kPowerSaveAndApply, saved));
  EXPECT_TRUE(saved.saved);
  EXPECT_TRUE(Guard(guards::kPowerRestore, saved));
}

TEST_F(PowerGuardTest, RestoreWithNoSavedCopyWritesNothing) {
  guards::SavedPowerPolicies saved;
  EXPECT_FALSE(Guard(guards::kPowerRestore, saved));
  EXPECT_TRUE(machine().power.Writes().empty());
  EXPECT_TRUE(machine().windows.MessageBoxes().empty());
  EXPECT_EQ(machine().CountCalls("CanUserWritePwrScheme"), 0);
}

// ----- the input lock -----

TEST(InputLock, DecidesByTheMessageNumberAlone) {
  const struct {
    win::UINT message;
    bool keyboardSwallows, mouseSwallows;
  } cases[] = {
      {win::WM_KEYDOWN, true, false},        {win::WM_SYSKEYDOWN, true, false},
      {win::WM_KEYUP, false, false},         {win::WM_SYSKEYUP, false, false},
      {win::WM_LBUTTONDOWN, false, true},    {win::WM_LBUTTONUP, false, true},
      {win::WM_LBUTTONDBLCLK, false, true},  {win::WM_RBUTTONDOWN, false, true},
      {win::WM_RBUTTONUP, false, true},      {win::WM_RBUTTONDBLCLK, false, true},
      {win::WM_MOUSEMOVE, false, false},     {win::WM_MBUTTONDOWN, false, false},
      {win::WM_MBUTTONUP, false, false},     {win::WM_MOUSEWHEEL, false, false},
      {win::WM_XBUTTONDOWN, false, false},   {0x020E /* WM_MOUSEHWHEEL */, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(guards::SwallowsKeyboardMessage(c.message), c.keyboardSwallows) << c.message;
    EXPECT_EQ(guards::SwallowsMouseMessage(c.message), c.mouseSwallows) << c.message;
  }
}

class InputLockTest : public SimTest {};

// Hooks another program installed earlier, later in the chain, with answers of their own.
win::LRESULT BIOSUPDATE_CALLBACK EarlierKeyboardHook(int, win::WPARAM, win::LPARAM) { return 7; }
win::LRESULT BIOSUPDATE_CALLBACK EarlierMouseHook(int, win::WPARAM, win::LPARAM) { return 9; }

TEST_F(InputLockTest, HookProceduresSwallowOrPassOnDownTheChain) {
  RunInProcess([] {
    machine().hooks.Install(win::WH_KEYBOARD_LL, &EarlierKeyboardHook, nullptr, 0);
    machine().hooks.Install(win::WH_MOUSE_LL, &EarlierMouseHook, nullptr, 0);
    guards::InstallInputLock(kOwner);
    EXPECT_NE(guards::g_keyboardHook, nullptr);
    EXPECT_NE(guards::g_mouseHook, nullptr);
    EXPECT_EQ(guards::KeyboardHookProc(0, win::WM_KEYDOWN, 0), 1);
    EXPECT_EQ(guards::MouseHookProc(0, win::WM_RBUTTONUP, 0), 1);
    // Passed on through each hook's own handle, with the next hook's answer returned; a
    // negative code is the system's and always passed on.
    EXPECT_EQ(guards::KeyboardHookProc(0, win::WM_KEYUP, 0), 7);
    EXPECT_EQ(guards::KeyboardHookProc(-1, win::WM_KEYDOWN, 0), 7);
    EXPECT_EQ(guards::MouseHookProc(0, win::WM_MOUSEMOVE, 0), 9);
    EXPECT_EQ(guards::MouseHookProc(-1, win::WM_LBUTTONDOWN, 0), 9);
    guards::RemoveInputLock();
  });
  EXPECT_EQ(machine().hooks.leftAtProcessEnd, 2);  // the other program's
  EXPECT_TRUE(MatchesSequence(machine().Calls(), {{"SetWindowsHookExA", {win::WH_KEYBOARD_LL, 0x400000, 0}},
                                                  {"SetWindowsHookExA", {win::WH_MOUSE_LL, 0x400000, 0}},
                                                  {"UnhookWindowsHookEx"},
                                                  {"UnhookWindowsHookEx"}}));
}

// One hook that cannot be installed is told; the other is installed all the same and swallows.
TEST_F(InputLockTest, EitherHookFailingAloneIsToldAndTheOtherStillSwallows) {
  const struct {
    int failing;  // 1: the keyboard hook's installation, 2: the mouse hook's
    const char* told;
    bool keyboardLeft;
  } cases[] = {{1, "Keyboard HOOK Error!!", false}, {2, "Mouse HOOK Error!!", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    SetUp();
    machine().FailCall("SetWindowsHookExA", {.occurrence = c.failing});
    RunInProcess([&] {
      guards::InstallInputLock(kOwner);
      const sim::InstalledHook* keyboard = machine().hooks.First(true);
      const sim::InstalledHook* mouse = machine().hooks.First(false);
      EXPECT_EQ(keyboard != nullptr, c.keyboardLeft);
      EXPECT_EQ(mouse != nullptr, !c.keyboardLeft);
      EXPECT_TRUE(keyboard == nullptr || sim::Hooks::Call(*keyboard, win::WM_KEYDOWN));
      EXPECT_TRUE(mouse == nullptr || sim::Hooks::Call(*mouse, win::WM_LBUTTONDOWN));
    });
    ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
    EXPECT_EQ(machine().windows.MessageBoxes()[0].text, c.told);
    EXPECT_EQ(machine().windows.MessageBoxes()[0].flags, win::MB_OK);
    EXPECT_EQ(machine().hooks.leftAtProcessEnd, 1);
  }
}

// Twice a second the hook thread installs each hook anew; a renewal that cannot install one
// keeps the old, still in place and swallowing, and the next renewal replaces it.
TEST_F(InputLockTest, RenewalThatFailsKeepsTheOldHook) {
  machine().FailCall("SetWindowsHookExA", {.occurrence = 3});  // the first renewal's keyboard hook
  RunInProcess([] {
    guards::InstallInputLock(kOwner);
    ASSERT_EQ(machine().hooks.Installed().size(), 2u);
    const win::HHOOK keyboard = machine().hooks.First(true)->handle;
    const win::HHOOK mouse = machine().hooks.First(false)->handle;
    win::Sleep(600);
    ASSERT_EQ(machine().hooks.Installed().size(), 2u);
    EXPECT_EQ(machine().hooks.First(true)->handle, keyboard);
    EXPECT_NE(machine().hooks.First(false)->handle, mouse);
    EXPECT_TRUE(sim::Hooks::Call(*machine().hooks.First(true), win::WM_KEYDOWN));
    win::Sleep(500);
    ASSERT_EQ(machine().hooks.Installed().size(), 2u);
    EXPECT_NE(machine().hooks.First(true)->handle, keyboard);
    EXPECT_EQ(machine().hooks.InstalledCount(win::WH_KEYBOARD_LL), 1);
    EXPECT_EQ(machine().hooks.InstalledCount(win::WH_MOUSE_LL), 1);
    guards::RemoveInputLock();
  });
  EXPECT_EQ(machine().hooks.leftAtProcessEnd, 0);
}

// ----- commands and the companion program -----

class CompanionTest : public SimTest {
 protected:
  // Programs planted where the program was started from, as by someone who may write there.
  static void PlantBesideTheProgram() {
    for (const char* name : {"cmd.exe", "taskkill.exe", "shutdown.exe"}) {
      machine().processes.Install(std::string("C:\\Users\\User\\Downloads\\") + name, sim::Program{});
    }
  }
  static int StartedFrom(const std::string& folder) {
    int count = 0;
    for (const sim::SimProcess& p : machine().processes.All()) {
      if (sim::FileSystem::Normal(p.image).rfind(sim::FileSystem::Normal(folder), 0) == 0) ++count;
    }
    return count;
  }
};

TEST_F(CompanionTest, CommandsRunOnlyTheSystemsProgramsByTheirFullPaths) {
  PlantBesideTheProgram();
  // What cmd.exe runs first unless told not to: writable by the unelevated user.
  machine().registry.SetValue("HKCU\\Software\\Microsoft\\Command Processor", "AutoRun",
                              {win::REG_SZ, std::string("C:\\Users\\User\\Downloads\\cmd.exe\0", 32)});
  machine().processes.InstallCompanion(guards::kCompanionPaths[1]);
  machine().processes.StartByUser(guards::kCompanionPaths[1]);
  RunInProcess([] {
    guards::StopCompanion();
    guards::RestartComputer();
  });
  EXPECT_EQ(StartedFrom("C:\\Users\\User\\Downloads"), 0);
  EXPECT_EQ(machine().processes.RunningCount("Brindle.exe"), 0);
  EXPECT_EQ(machine().processes.RestartRequests().size(), 1u);
  const auto interpreters = machine().processes.Started("cmd.exe");
  ASSERT_EQ(interpreters.size(), 2u);
  EXPECT_EQ(interpreters[0].commandLine, "\"C:\\Windows\\System32\\cmd.exe\" /d /c taskkill /F /IM Brindle.exe");
  EXPECT_EQ(interpreters[1].commandLine, "\"C:\\Windows\\System32\\cmd.exe\" /d /c shutdown -r -f");
  EXPECT_EQ(interpreters[1].currentDirectory, "C:\\Windows\\System32");
}

TEST_F(CompanionTest, RelaunchTriesBothPathsInOrderEvenWhenTheFirstFails) {
  machine().processes.InstallCompanion(guards::kCompanionPaths[1]);
  RunInProcess([] { guards::RelaunchCompanion(); });
  EXPECT_TRUE(MatchesSequence(machine().Calls(),
                              {{"ShellExecuteA", {"open", "C:\\Program Files\\Norvik Software\\Quilden\\Brindle.exe", "(null)", "(null)", 5}},
                               {"ShellExecuteA", {"open", "C:\\Program Files (x86)\\Norvik Software\\Quilden\\Brindle.exe", "(null)", "(null)", 5}}}));
  EXPECT_EQ(machine().processes.RunningCount("Brindle.exe"), 1);
}

}  // namespace
