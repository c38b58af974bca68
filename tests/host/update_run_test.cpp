// Whole update runs on the simulated machine, from the confirmation to the end of the
// process: every verdict, the refusals, the flash, the restart, and the faulty paths, each
// ending with the machine as it was (power policy, input, companion program, working folder).
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "sequence.h"
#include "sim_fixture.h"
#include "ui/texts.h"
#include "update/bios_identity.h"

namespace {

using namespace testing_support;
using ui::TextId;

constexpr win::UINT kQuit = 0x807;
constexpr win::UINT_PTR kQuitTimer = 0xF5F;
constexpr win::UINT_PTR kAnimationTimer = 0x805;
// The confirmation is answered at once; 500 ms later the first status text, 500 ms after that
// the start timer starts the worker.
constexpr std::uint64_t kWorkerStartMs = 1000;
constexpr std::uint64_t kFlashRunMs = 5000;

class UpdateRunTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    machine().processes.InstallCompanion(kCompanionPath);
    machine().processes.StartByUser(kCompanionPath);
    machine().processes.flashTool.runMs = kFlashRunMs;
    originalPolicy_ = machine().power.policy;
    originalSettings_ = machine().power.inForce;
    originalStored_ = machine().power.schemes;
  }

  // Answers the question Yes, then the boxes that follow as the test scripted them.
  static sim::ProcessResult RunWithBios(std::optional<std::u16string> version,
                                        std::vector<sim::BoxAnswer> laterBoxes = {}) {
    machine().wmi.biosVersions = {std::move(version)};
    machine().windows.ScriptAnswer(win::IDYES);
    for (const sim::BoxAnswer& answer : laterBoxes) machine().windows.ScriptAnswer(answer.answer, answer.afterMs);
    return sim::RunProcess("");
  }

  // When a status text was first painted, counted from the worker's start.
  static std::optional<std::uint64_t> ShownAt(const std::string& text) {
    for (const sim::DrawnText& drawn : machine().gdi.TextsDrawn()) {
      if (drawn.text == text) return drawn.atMs - kWorkerStartMs;
    }
    return std::nullopt;
  }
  static std::optional<std::uint64_t> ShownAt(TextId id) { return ShownAt(ui::UiText(id)); }

  static std::vector<std::string> TextsInOrder() {
    std::vector<std::string> texts;
    for (const sim::DrawnText& drawn : machine().gdi.TextsDrawn()) {
      if (texts.empty() || texts.back() != drawn.text) texts.push_back(drawn.text);
    }
    return texts;
  }

  // The worker's thread is the second one the run starts; the input lock's is the first.
  static const sim::CallRecord& WorkerStart() {
    return machine().Calls()[machine().IndexOfCall("ResumeThread", machine().IndexOfCall("ResumeThread") + 1)];
  }
  static bool MarkerWritten() {
    const auto value = machine().registry.ValueOf(kMarkerKey, "Version");
    return value && *value == sim::RegistryValue{win::REG_SZ, "1.15.1404.0702"};
  }

  // The machine as the user left it: every lock undone, the companion running, no folder.
  void ExpectMachineRestored() const {
    EXPECT_EQ(machine().power.policy,
              machine().power.Writes().empty() ? originalPolicy_ : RestoredPolicy(originalPolicy_));
    EXPECT_EQ(machine().hooks.leftAtProcessEnd, 0);
    EXPECT_EQ(machine().processes.RunningCount("Brindle.exe"), 1);
    EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
    EXPECT_EQ(machine().files.CurrentDirectory(), "C:\\Users\\User\\Downloads");
    EXPECT_EQ(machine().gdi.LiveTotal(), 0);
    ExpectKeptAwakeFromSaveToRestore();
    ExpectSettingsBack();
  }

  // The request to keep the system and the display on comes right after the save-and-apply and
  // goes right after the last restore, at the same moments; nothing asks for it without a save,
  // and nothing is left to the end of the process.
  static void ExpectKeptAwakeFromSaveToRestore() {
    EXPECT_FALSE(machine().power.awakeAtProcessEnd);
    std::vector<sim::CallRecord> power;
    std::copy_if(machine().Calls().begin(), machine().Calls().end(), std::back_inserter(power), [](const sim::CallRecord& r) {
      return r.name == "SetActivePwrScheme" || r.name == "SetThreadExecutionState";
    });
    if (machine().power.Writes().empty()) {
      EXPECT_EQ(machine().CountCalls("SetThreadExecutionState"), 0);
      return;
    }
    ASSERT_GE(power.size(), 4u);
    EXPECT_EQ(machine().CountCalls("SetThreadExecutionState"), 2);
    EXPECT_EQ(power[0].name, "SetActivePwrScheme");
    EXPECT_EQ(power[1].Text(), "2147483651");  // ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED
    EXPECT_EQ(power[power.size() - 2].name, "SetActivePwrScheme");
    EXPECT_EQ(power.back().Text(), "2147483648");  // ES_CONTINUOUS alone
    EXPECT_EQ(power[1].thread, 0);
    EXPECT_EQ(power.back().thread, 0);
    EXPECT_EQ(power[1].timeMs, power[0].timeMs) << "kept awake from the save on";
    EXPECT_EQ(power.back().timeMs, power[power.size() - 2].timeMs) << "until the restore";
  }

  // The power settings as Windows 10 and 11 obey them: the same values in force and stored in
  // each scheme after the run as before it, and the scheme handed out given back.
  void ExpectSettingsBack() const {
    EXPECT_EQ(machine().power.inForce, originalSettings_);
    EXPECT_EQ(machine().power.schemes, originalStored_);
    EXPECT_EQ(machine().power.SchemesNotFreed(), 0);
  }

  win::GLOBAL_POWER_POLICY originalPolicy_;
  sim::PowerSettings originalSettings_;
  std::map<std::string, sim::PowerSettings> originalStored_;
};

// ----- every verdict, with its texts at their times -----

struct VerdictCase {
  const char* name;
  std::optional<std::u16string> bios;
  TextId ending;                 // the last status text
  std::uint64_t endingAtMs;      // from the worker's start
  std::uint64_t finishAtMs;
  bool flashed;
};

std::ostream& operator<<(std::ostream& os, const VerdictCase& c) { return os << c.name; }

class Verdicts : public UpdateRunTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(Verdicts, ShowTheirTextsOnTimeAndEndWithTheMachineRestored) {
  const VerdictCase& c = GetParam();
  EXPECT_FALSE(Ended(RunWithBios(c.bios)).exitedThroughCrt);

  EXPECT_EQ(ShownAt(TextId::StatusLoading), 3000u);
  EXPECT_EQ(ShownAt(TextId::StatusVerifying), 5000u);
  EXPECT_EQ(ShownAt(c.ending), c.endingAtMs);
  const sim::CallRecord& finish = machine().FirstCall("PostMessageA");
  EXPECT_EQ(finish.args[0], sim::Arg(kFinish));
  EXPECT_EQ(finish.timeMs - kWorkerStartMs, c.finishAtMs);
  EXPECT_EQ(finish.args[1], sim::Arg(c.flashed ? 100 : 0));
  EXPECT_EQ(machine().processes.Flashes().size(), c.flashed ? 1u : 0u);
  EXPECT_EQ(machine().processes.RestartRequests().size(), c.flashed ? 1u : 0u);
  EXPECT_TRUE(MarkerWritten());
  ExpectMachineRestored();
}

INSTANTIATE_TEST_SUITE_P(
    RunningBios, Verdicts,
    ::testing::Values(VerdictCase{"OlderRevisionIsFlashed", u"47K31RA9", TextId::StatusUpdating, 11000, 12000 + kFlashRunMs, true},
                      VerdictCase{"LowerCaseSameRevision", u"47k31rb4", TextId::StatusSameVersion, 7000, 12000, false},
                      VerdictCase{"NewerRevision", u"47K31RC1", TextId::StatusInstalledNewer, 7000, 12000, false},
                      VerdictCase{"DigitsComeBeforeLetters", u"47K31R9Z", TextId::StatusUpdating, 11000, 12000 + kFlashRunMs, true},
                      VerdictCase{"SevenCharacters", u"47K31RB", TextId::StatusUpdating, 11000, 12000 + kFlashRunMs, true},
                      VerdictCase{"SixthCharacterF", u"47K31FB4", TextId::StatusWrongModel, 7000, 10000, false},
                      VerdictCase{"OtherModel", u"47K32RB4", TextId::StatusWrongModel, 7000, 10000, false},
                      VerdictCase{"WineAnswer", u"Wine", TextId::StatusWrongModel, 7000, 10000, false},
                      VerdictCase{"FiveCharactersHaveNoRevision", u"47K31", TextId::StatusWrongModel, 7000, 10000, false},
                      VerdictCase{"SixCharactersHaveNoRevision", u"47K31R", TextId::StatusWrongModel, 7000, 10000, false},
                      VerdictCase{"NullVersion", std::nullopt, TextId::StatusWrongModel, 7000, 10000, false}),
    kByName);

// ----- the power supply, read after the checks and before the tool starts -----

struct SupplyCase {
  const char* name;
  win::BYTE acLine, batteryFlag, percent;
  bool statusFails;
  std::optional<TextId> refusal;  // none: flashed
};

std::ostream& operator<<(std::ostream& os, const SupplyCase& c) { return os << c.name; }

class PowerSupply : public UpdateRunTest, public ::testing::WithParamInterface<SupplyCase> {};

// A refusal ends as the others do: marker, its text at 11 s, 5 s to read it, the quit timer and
// the finish without restart; nothing is flashed and the machine is as it was.
TEST_P(PowerSupply, DecidesWhetherTheFlashMayStart) {
  const SupplyCase& c = GetParam();
  machine().power.supply = {c.acLine, c.batteryFlag, c.percent, 0, 0, 0};
  if (c.statusFails) machine().FailCall("GetSystemPowerStatus");
  Ended(RunWithBios(u"47K31RA9"));
  EXPECT_EQ(machine().processes.Flashes().size(), c.refusal ? 0u : 1u);
  EXPECT_EQ(machine().processes.RestartRequests().size(), c.refusal ? 0u : 1u);
  EXPECT_TRUE(MarkerWritten());
  if (c.refusal) {
    EXPECT_EQ(ShownAt(*c.refusal), 11000u);
    EXPECT_FALSE(ShownAt(TextId::StatusUpdating).has_value());
    EXPECT_TRUE(MatchesSequence({machine().Calls().begin() + machine().IndexOfCall("GetSystemPowerStatus"), machine().Calls().end()},
                                {{"RegSetValueExA"}, At(kWorkerStartMs + 16000, {"SetTimer", {kQuitTimer, 3000}}), {"PostMessageA", {kFinish, 0}}},
                                {"RegSetValueExA", "SetTimer", "PostMessageA"}));
  }
  ExpectMachineRestored();
}

INSTANTIATE_TEST_SUITE_P(
    Supplies, PowerSupply,
    ::testing::Values(SupplyCase{"OnBattery", 0, 0x01, 90, false, TextId::StatusNoAcPower},
                      SupplyCase{"AcLineUnknown", 255, 0x80, 255, false, TextId::StatusNoAcPower},
                      SupplyCase{"StatusCallFails", 1, 0x80, 100, true, TextId::StatusNoAcPower},
                      SupplyCase{"MainsAt24", 1, 0x02 | 0x08, 24, false, TextId::StatusBatteryLow},
                      SupplyCase{"MainsAt25", 1, 0x08, 25, false, std::nullopt},
                      SupplyCase{"MainsAt100", 1, 0x01, 100, false, std::nullopt},
                      SupplyCase{"NoBatteryLevelUnknown", 1, 0x80, 255, false, std::nullopt},
                      SupplyCase{"NoBatteryBesideOtherBits", 1, 0x80 | 0x08, 0, false, std::nullopt},
                      SupplyCase{"LevelUnknown", 1, 0x01, 255, false, TextId::StatusBatteryLow},
                      SupplyCase{"LevelOutOfRange", 1, 0x01, 200, false, TextId::StatusBatteryLow},
                      // 255 is "unknown", not every flag at once: it does not say "no battery".
                      SupplyCase{"FlagUnknownLevelUnknown", 1, 255, 255, false, TextId::StatusBatteryLow},
                      SupplyCase{"FlagUnknownLevelKnown", 1, 255, 60, false, std::nullopt}),
    kByName);

TEST_F(UpdateRunTest, PowerSupplyRefusalIsShownInKorean) {
  SetKorean();
  machine().power.supply.ACLineStatus = 0;
  RunWithBios(u"47K31RA9");
  EXPECT_EQ(TextsInOrder().back(), "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xB8\xA6 \xC7\xCF\xB7\xC1\xB8\xE9 AC \xBE\xEE\xB4\xF0\xC5\xCD\xB8\xA6 \xBF\xAC\xB0\xE1\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0.");
}

TEST_F(UpdateRunTest, StatusTextsFollowEachOtherInTheirOrder) {
  RunWithBios(u"47K31RA9");
  EXPECT_EQ(TextsInOrder(), (std::vector<std::string>{ui::UiText(TextId::StatusInitializing),
                                                      ui::UiText(TextId::StatusLoading),
                                                      ui::UiText(TextId::StatusVerifying),
                                                      ui::UiText(TextId::StatusChecking),
                                                      ui::UiText(TextId::StatusUpdating)}));
  EXPECT_EQ(ShownAt(TextId::StatusChecking), 7000u);
  // The first status text half a second after the question, before the worker exists.
  EXPECT_EQ(machine().gdi.TextsDrawn().front().atMs, 500u);
}

// After the Yes the window locks the machine, writes the flash tool, covers the screen and shows
// its first text half a second later; the start timer's first tick starts the animation, reads
// the running BIOS, writes the capsule and starts the worker, which begins with its wait. All of
// it comes before the first animation tick.
TEST_F(UpdateRunTest, InitialisationAndUpdateStartTakeTheirStepsInOrder) {
  RunWithBios(u"47K31RA9");
  const std::vector<sim::CallRecord> calls = WithoutHookRenewals(machine().Calls());
  const auto firstTick = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) {
    return r.name == "Message" && r.args[0] == sim::Arg(win::WM_TIMER) && r.args[1] == sim::Arg(kAnimationTimer);
  });
  const auto question = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) { return r.name == "MessageBoxA"; });
  EXPECT_TRUE(MatchesSequence({question, firstTick},
                              {{"MessageBoxA", {"BIOS update", 0x34}},
                               {"SetActivePwrScheme", {1, 1, 0}},
                               {"ResumeThread"},
                               {"SetThreadPriority", {15 /* THREAD_PRIORITY_TIME_CRITICAL */}},
                               {"SetWindowsHookExA", {win::WH_KEYBOARD_LL}},
                               {"SetWindowsHookExA", {win::WH_MOUSE_LL}},
                               {"SetTimer", {0, 500}},  // the hook thread's own, for its renewals
                               Optional({"ProcessStarted", {"cmd.exe"}}),
                               {"ProcessStarted", {"taskkill.exe"}},
                               {"CreateFileA", {kFlashToolPath}},
                               {"SetWindowPos", {-1 /* HWND_TOPMOST */, 0, 0, 1024, 768, 0x40 /* SWP_SHOWWINDOW */}},
                               {"Sleep", {500}},
                               At(500, {"InvalidateRect", {win::FALSE}}),
                               {"SetTimer", {0x800, 500}},
                               At(1000, {"SetTimer", {kAnimationTimer, 100}}),
                               {"KillTimer", {0x800}},
                               {"ObjectGet"},
                               {"CreateFileA", {kCapsulePath}},
                               {"ResumeThread"},
                               {"Sleep", {1000}}}));
  // The priority is the hook thread's own, set on that thread.
  const sim::CallRecord& priority = machine().FirstCall("SetThreadPriority");
  const int hookThread = machine().FirstCall("SetWindowsHookExA").thread;
  EXPECT_NE(hookThread, 0);
  EXPECT_EQ(priority.thread, hookThread);
  EXPECT_EQ(priority.args.at(1), sim::Arg(hookThread));
}

// Whatever the tool's exit code, and if it crashes: the marker is written and the restart
// follows. A tool that crashes ends at once under the error mode it inherits (without it,
// Windows' error box would keep it alive behind the locked screen, and the worker's wait would
// never end).
TEST_F(UpdateRunTest, FlashToolRunsWithItsCommandLineInTheWorkingFolderAndTheRunRestartsEvenIfItCrashes) {
  OnFreshMachines({false, true}, [&](bool crashes) {
    machine().processes.flashTool.crashes = crashes;
    if (!crashes) machine().processes.flashTool.exitCode = 1;
    Ended(RunWithBios(u"47K31RA9"));
    EXPECT_EQ(machine().FirstCall("PostMessageA").timeMs - kWorkerStartMs, crashes ? 12000u : 17000u);
    EXPECT_TRUE(MarkerWritten());
    EXPECT_EQ(machine().processes.RestartRequests().size(), 1u);
    ASSERT_EQ(machine().processes.Flashes().size(), 1u);
    const sim::FlashRecord& flash = machine().processes.Flashes()[0];
    EXPECT_EQ(flash.commandLine,
              "C:\\Program Files (x86)\\BIOSUPDATE\\WinFlash64.exe /cvar /bbl /sd /file 47K31RB4.cap /nodelay");
    EXPECT_EQ(flash.currentDirectory, kWorkingFolder);
    EXPECT_TRUE(flash.capsuleFound);
    EXPECT_EQ(flash.capsuleBytes, kCapsuleBytes);
    EXPECT_EQ(flash.atMs - kWorkerStartMs, 12000u);
    // Started by its full path and in a console of its own.
    const sim::CallRecord& create =
        machine().Calls()[machine().IndexOfCall("CreateProcessA", machine().IndexOfCall("SetCurrentDirectoryA"))];
    EXPECT_EQ(create.args[0], sim::Arg(kFlashToolPath));
    EXPECT_EQ(create.args[3], sim::Arg(0x10));
    // It inherits an error mode that shows no crash box: the updater's own, for the whole run.
    EXPECT_EQ(flash.errorMode, 0x8003u);
    EXPECT_EQ(machine().errorMode, 0x8003u);
    ExpectMachineRestored();
  });
}

// The updater itself crashing: on its worker in the pause before the tool starts (an access
// violation, an illegal instruction), in the run-time's terminate as the tool starts, or on the
// window's thread while the tool writes the firmware. No box, and the process ends with the
// fault's code; a crash during the flash first waits for the tool's end with every lock held (the
// hook thread swallows every press meanwhile, the policies stay off) and only then unhooks and
// puts back what the save kept, with the global policy alone; nothing of the run comes after it.
TEST_F(UpdateRunTest, UpdaterThatCrashesWaitsForTheToolThenLeavesNoBoxNoHookAndItsPowerPoliciesBack) {
  constexpr int kWindowThread = 0, kWorkerThread = 2;  // the hook thread is the first one started
  constexpr std::uint64_t kFlashStartMs = kWorkerStartMs + 12000, kFlashEndMs = kFlashStartMs + kFlashRunMs;
  const struct {
    const char* name;
    int thread;
    std::uint64_t atMs;  // 0: in the run-time's terminate, as the tool starts
    win::DWORD code;
  } cases[] = {{"worker, access violation", kWorkerThread, kFlashStartMs - 500, 0xC0000005},
               {"worker, illegal instruction", kWorkerThread, kFlashStartMs - 500, 0xC000001D},
               {"terminate", kWorkerThread, 0, 3},
               {"window's thread during the flash", kWindowThread, kFlashStartMs + 1000, 0xC000001D}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const bool duringFlash = c.atMs > kFlashStartMs;
    if (c.atMs != 0) {
      machine().CrashThreadAt(c.thread, c.atMs, c.code);
    } else {
      machine().processes.flashTool.onStart = [](sim::SimProcess&) {
        machine().Log("Crash", {3, machine().errorMode}, sim::Kind::Event);
        machine().crtFailureHandler();
      };
    }
    for (std::uint64_t at = kFlashStartMs + 1100; at < kFlashEndMs; at += 250) {
      machine().windows.ScheduleInput({at, true, win::WM_KEYDOWN});
      machine().windows.ScheduleInput({at, false, win::WM_LBUTTONDOWN});
    }
    const sim::ProcessResult result = RunWithBios(u"47K31RA9");
    EXPECT_FALSE(result.stalled);
    EXPECT_EQ(result.exitCode, static_cast<int>(c.code));
    EXPECT_EQ(machine().CountCalls("ErrorReportingBox"), 0);
    EXPECT_EQ(machine().windows.MessageBoxes().size(), 1u);  // the question
    EXPECT_EQ(machine().FirstCall("Crash").args.at(1), sim::Arg(0x8003));  // the error mode then
    EXPECT_EQ(machine().hooks.leftAtProcessEnd, 0);
    ASSERT_EQ(machine().power.Writes().size(), 2u);
    EXPECT_EQ(machine().power.Writes()[1].policy, RestoredPolicy(originalPolicy_));
    EXPECT_EQ(machine().power.Writes()[1].scheme, 1u);
    EXPECT_TRUE(machine().processes.RestartRequests().empty());
    // What the simulated machine does after TerminateProcess (it unwinds its threads) is not the
    // program's doing: the record is read up to there.
    const int crash = machine().IndexOfCall("Crash");
    std::vector<std::string> after;
    for (auto r = machine().Calls().begin() + crash + 1; r != machine().Calls().end(); ++r) {
      if (r->thread != machine().Calls()[crash].thread || r->kind != sim::Kind::Call) continue;
      after.push_back(r->name + (r->name == "SetActivePwrScheme" ? " " + r->Text() : std::string()));
      if (r->name == "TerminateProcess") break;
    }
    std::vector<std::string> expected{"UnhookWindowsHookEx", "UnhookWindowsHookEx"};
    for (int setting = 0; setting < 4; ++setting) expected.insert(expected.end(), {"PowerWriteACValueIndex", "PowerWriteDCValueIndex"});
    expected.insert(expected.end(), {"PowerSetActiveScheme", "ReadGlobalPwrPolicy", "GetActivePwrScheme",
                                     "SetActivePwrScheme 1 1 0", "TerminateProcess"});
    if (duringFlash) expected.insert(expected.begin(), "WaitForSingleObject");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(machine().power.inForce, originalSettings_);
    if (!duringFlash) continue;
    EXPECT_EQ(result.endedAtMs, kFlashEndMs);
    EXPECT_EQ(machine().power.Writes()[1].atMs, kFlashEndMs);
    EXPECT_EQ(machine().hooks.timedOut, 0);
    ASSERT_EQ(machine().windows.InputOutcomes().size(), 2u * 16);
    for (const sim::InputOutcome& outcome : machine().windows.InputOutcomes()) {
      EXPECT_TRUE(outcome.swallowed) << outcome.event.message << " at " << outcome.event.atMs;
    }
  }
}

// What a person does on Windows 10 or 11 while the firmware is written: press the power or
// the sleep button, close the lid, or choose Sleep from a power menu. Windows answers each by the
// setting of the active scheme in force, not by the global policy. Each does nothing during the
// flash, and the same press works again after the run.
TEST_F(UpdateRunTest, ButtonsLidAndAChosenSleepDoNothingWhileTheFirmwareIsWritten) {
  using Outcome = sim::PowerOutcome;
  const auto pressAll = [] {
    return std::vector<Outcome>{machine().power.PressPowerButton(), machine().power.PressSleepButton(),
                                machine().power.CloseLid(), machine().power.ChooseSleep()};
  };
  EXPECT_EQ(pressAll(), (std::vector<Outcome>{Outcome::ShutDown, Outcome::Sleep, Outcome::Sleep, Outcome::Sleep}));
  std::vector<Outcome> during;
  machine().processes.flashTool.onStart = [&](sim::SimProcess&) { during = pressAll(); };
  Ended(RunWithBios(u"47K31RA9"));
  EXPECT_EQ(during, std::vector<Outcome>(4, Outcome::Nothing));
  EXPECT_EQ(pressAll(), (std::vector<Outcome>{Outcome::ShutDown, Outcome::Sleep, Outcome::Sleep, Outcome::Sleep}));
  ExpectMachineRestored();

  // On the battery the flash is refused; until the finish the settings for the battery did
  // nothing as well.
  SetUp();
  machine().power.supply.ACLineStatus = 0;
  RunWithBios(u"47K31RA9");
  ASSERT_EQ(machine().power.Activations().size(), 2u);
  const sim::PowerSettings& locked = machine().power.Activations()[0].inForce;
  int off = 0;
  for (const auto& [key, values] : locked) off += values == sim::SettingValues{0, 0} ? 1 : 0;
  EXPECT_EQ(off, 4);  // the four guarded settings, the idle time left alone
  EXPECT_EQ(locked.size(), originalSettings_.size());
  ExpectMachineRestored();
}

// Beside the execution state, a power request with its reason (which powercfg /requests shows)
// holds the display and the system on from the lock to the finish, the process too where
// Windows knows that kind (not on Windows 7, which refuses only that one), and each kind set is
// cleared and the request closed before the restart.
TEST_F(UpdateRunTest, PowerRequestWithItsReasonHoldsFromTheLockToTheFinish) {
  OnFreshMachines({true, false}, [&](bool knowsExecutionRequired) {
    machine().power.knowsExecutionRequired = knowsExecutionRequired;
    std::vector<std::pair<std::string, std::set<int>>> during;
    machine().processes.flashTool.onStart = [&](sim::SimProcess&) {
      for (const auto& [handle, request] : machine().power.OpenRequests()) during.emplace_back(request.reason, request.types);
    };
    Ended(RunWithBios(u"47K31RA9"));
    const std::set<int> kinds = knowsExecutionRequired ? std::set<int>{0, 1, 3} : std::set<int>{0, 1};
    EXPECT_EQ(during, (std::vector<std::pair<std::string, std::set<int>>>{{"Do not turn off the power.", kinds}}));
    std::vector<Expected> cleared;
    for (const int kind : kinds) cleared.push_back({"PowerClearRequest", {kind}});
    const int finish = machine().IndexOfCall("PostMessageA");
    EXPECT_TRUE(MatchesSequence({machine().Calls().begin() + finish, machine().Calls().end()}, cleared));
    int closed = -1;
    for (std::size_t i = 0; i < machine().Calls().size(); ++i) {
      const sim::CallRecord& r = machine().Calls()[i];
      if (r.name == "CloseHandle" && r.args[0] == sim::Arg("PowerRequest")) closed = static_cast<int>(i);
    }
    EXPECT_GT(closed, machine().IndexOfCall("PowerClearRequest"));
    EXPECT_LT(closed, machine().IndexOfCall("CreateProcessA", machine().IndexOfCall("KillTimer", finish + 1) + 1));
    EXPECT_EQ(machine().CountCalls("PowerCreateRequest"), 1);
    EXPECT_LT(machine().IndexOfCall("PowerCreateRequest"), machine().IndexOfCall("SetWindowsHookExA"));
    EXPECT_FALSE(machine().power.requestHeldAtProcessEnd);
  });
}

// A log-off agreed to before the flash restores the power settings; when Windows then calls the
// end off (WM_ENDSESSION FALSE: another program refused, or the user chose Cancel), the update
// goes on and must be locked as before. An end that goes ahead changes nothing.
TEST_F(UpdateRunTest, SessionEndCalledOffBeforeTheFlashPutsTheLockBack) {
  OnFreshMachines({win::WPARAM{win::FALSE}, win::WPARAM{win::TRUE}}, [&](win::WPARAM ending) {
    machine().windows.ScheduleMessage({12900, win::WM_QUERYENDSESSION, 0, 0, true, ending});
    std::vector<sim::PowerOutcome> during;
    win::DWORD legacyDuring = 99;
    machine().processes.flashTool.onStart = [&](sim::SimProcess&) {
      during = {machine().power.PressPowerButton(), machine().power.CloseLid(), machine().power.ChooseSleep()};
      legacyDuring = machine().power.policy.user.PowerButtonAc.Action;
    };
    Ended(RunWithBios(u"47K31RA9"));
    ASSERT_EQ(machine().windows.OutsideAnswers().size(), 1u);
    EXPECT_EQ(machine().windows.OutsideAnswers()[0].result, win::TRUE);
    std::vector<std::uint64_t> writes;
    for (const sim::PolicyWrite& w : machine().power.Writes()) writes.push_back(w.atMs);
    if (ending == win::FALSE) {
      EXPECT_EQ(during, std::vector<sim::PowerOutcome>(3, sim::PowerOutcome::Nothing));
      EXPECT_EQ(legacyDuring, win::PowerActionNone);
      EXPECT_EQ(writes, (std::vector<std::uint64_t>{0, 12900, 12900, 18000}));
    } else {
      EXPECT_EQ(during, (std::vector<sim::PowerOutcome>{sim::PowerOutcome::ShutDown, sim::PowerOutcome::Sleep,
                                                        sim::PowerOutcome::Sleep}));
      EXPECT_EQ(writes, (std::vector<std::uint64_t>{0, 12900, 18000}));
    }
    ExpectMachineRestored();
  });
}

// Slow steps on the worker (a busy disk, a slow registry) do not push the schedule back: every
// wait is counted from the thread's start. Each slow call here would otherwise add its time to
// every later step, and the flash would start 190 ms late.
TEST_F(UpdateRunTest, SlowStepsDoNotPushTheScheduleBack) {
  for (const auto& [api, ms] : {std::pair{"FindFirstFileA", 40}, {"SHGetFolderPathA", 30}, {"PostMessageA", 20}}) {
    machine().SlowCall(api, ms);
  }
  RunWithBios(u"47K31RA9");
  const std::uint64_t started = WorkerStart().timeMs;
  const auto since = [&](std::optional<std::uint64_t> shown) { return *shown + kWorkerStartMs - started; };
  EXPECT_EQ(since(ShownAt(TextId::StatusLoading)), 3000u);
  EXPECT_EQ(since(ShownAt(TextId::StatusVerifying)), 5000u);
  EXPECT_EQ(since(ShownAt(TextId::StatusChecking)), 7000u);
  EXPECT_EQ(since(ShownAt(TextId::StatusUpdating)), 11000u);
  ASSERT_EQ(machine().processes.Flashes().size(), 1u);
  EXPECT_EQ(machine().processes.Flashes()[0].atMs - started, 12000u);
}

// Every refusal writes the marker first and only then hands its text to the window: on the
// worker's thread the marker's write comes before the repaint that shows the text, and the
// quit timer before the finish. (The paint itself comes later on the window's thread either
// way, so the drawn text alone cannot tell the order.)
TEST_F(UpdateRunTest, EveryRefusalWritesTheMarkerBeforeItsTextAndTheQuitTimerBeforeTheFinish) {
  struct Road {
    const char* name;
    std::u16string bios;
    int failedWrite;  // the nth WriteFile fails (0: none); the second is the capsule's
    TextId text;
  };
  for (const Road& road : {Road{"wrong model", u"47K32RB4", 0, TextId::StatusWrongModel},
                           Road{"newer installed", u"47K31RC1", 0, TextId::StatusInstalledNewer},
                           Road{"same version", u"47K31RB4", 0, TextId::StatusSameVersion},
                           Road{"no capsule", u"47K31RA9", 2, TextId::StatusNoCapsule}}) {
    SCOPED_TRACE(road.name);
    SetUp();
    if (road.failedWrite != 0) machine().FailCall("WriteFile", {.occurrence = road.failedWrite});
    RunWithBios(road.bios);
    const int markerAt = machine().IndexOfCall("RegSetValueExA");
    const sim::CallRecord& marker = machine().FirstCall("RegSetValueExA");
    EXPECT_EQ(marker.args, (std::vector<sim::Arg>{"Version", win::REG_SZ, "1.15.1404.0702", 14}));
    std::vector<std::string> worker;
    for (const sim::CallRecord& r : machine().Calls()) {
      if (r.thread == marker.thread && (r.name == "RegSetValueExA" || r.name == "InvalidateRect")) worker.push_back(r.name);
    }
    ASSERT_GE(worker.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(worker.end() - 2, worker.end()),
              (std::vector<std::string>{"RegSetValueExA", "InvalidateRect"}));
    EXPECT_TRUE(MatchesSequence({machine().Calls().begin() + markerAt, machine().Calls().end()},
                                {{"RegSetValueExA"}, {"SetTimer", {kQuitTimer, 3000}}, {"PostMessageA", {kFinish, 0}}},
                                {"RegSetValueExA", "SetTimer", "PostMessageA"}));
    EXPECT_TRUE(ShownAt(road.text).has_value());
  }
}

TEST_F(UpdateRunTest, FinishWithRestartUndoesEverythingInOrderAndRestartsLast) {
  RunWithBios(u"47K31RA9");
  const std::vector<sim::CallRecord> calls = WithoutHookRenewals(machine().Calls());
  const auto finish = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) { return r.name == "PostMessageA"; });
  std::vector<sim::CallRecord> after(finish, calls.end());
  EXPECT_TRUE(MatchesSequence(after,
                              {{"KillTimer", {kQuitTimer}},
                               {"SetActivePwrScheme"},
                               {"OutputDebugStringA", {ui::DebugLine(ui::DebugLineId::PowerOptionsRestored)}},
                               {"UnhookWindowsHookEx"},
                               {"UnhookWindowsHookEx"},
                               {"ShellExecuteA", {"open", kCompanionPath}},
                               {"ShellExecuteA", {"open", "C:\\Program Files (x86)\\Norvik Software\\Quilden\\Brindle.exe"}},
                               {"DeleteFileA", {kFlashToolPath}},
                               {"DeleteFileA", {kCapsulePath}},
                               {"RemoveDirectoryA", {kWorkingFolder}},
                               {"KillTimer", {kAnimationTimer}},
                               {"OutputDebugStringA", {ui::DebugLine(ui::DebugLineId::BeforeShutdown)}},
                               {"CreateProcessA", {"C:\\Windows\\System32\\cmd.exe"}},
                               {"PostQuitMessage", {0}}}));
  const auto shutdown = machine().processes.Started("shutdown.exe");
  ASSERT_EQ(shutdown.size(), 1u);
  EXPECT_EQ(shutdown[0].commandLine, "shutdown -r -f");
}

TEST_F(UpdateRunTest, RefusalFinishesWithoutRestart) {
  RunWithBios(u"47K31RC1");
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.name == "KillTimer") {
      EXPECT_NE(r.args[0], sim::Arg(kAnimationTimer));
    }
  }
  EXPECT_TRUE(machine().processes.Started("shutdown.exe").empty());
  EXPECT_TRUE(machine().processes.RestartRequests().empty());
}

// The window's thread blocks for seconds at a time while the lock is on: the companion stop and
// the restart (each waits for its command), the two payload writes, the 500 ms pause, the
// identity query. The system drops a low-level hook whose thread does not answer within its
// time-out, so a press every 100 ms through all of them, and on to the finish, must find both
// hooks still there and be swallowed; releases and the pointer pass. The next step starts only
// when each command has ended.
TEST_F(UpdateRunTest, LockSwallowsEveryPressDuringEachBlockingStepUntilTheFinish) {
  constexpr std::uint64_t kCommandMs = 800;
  for (const char* command : {"C:\\Windows\\System32\\taskkill.exe", "C:\\Windows\\System32\\shutdown.exe"}) {
    machine().processes.Install(command, sim::Program{.runMs = kCommandMs, .onStart = {}});
  }
  machine().SlowCall("WriteFile", 700);
  machine().SlowCall("EnumNext", 700);
  constexpr std::uint64_t kFirst = 100, kLast = 15000, kEvery = 100;
  for (std::uint64_t at = kFirst; at <= kLast; at += kEvery) {
    machine().windows.ScheduleInput({at, true, win::WM_KEYDOWN});
    machine().windows.ScheduleInput({at, false, win::WM_LBUTTONDOWN});
    machine().windows.ScheduleInput({at + kEvery / 2, true, win::WM_KEYUP});
    machine().windows.ScheduleInput({at + kEvery / 2, false, win::WM_MOUSEMOVE});
  }
  RunWithBios(u"47K31RA9");
  EXPECT_EQ(machine().hooks.timedOut, 0);
  const std::uint64_t finish = machine().FirstCall("PostMessageA").timeMs;
  ASSERT_GT(finish, kLast);
  int presses = 0;
  for (const sim::InputOutcome& outcome : machine().windows.InputOutcomes()) {
    const bool press = outcome.event.message == win::WM_KEYDOWN || outcome.event.message == win::WM_LBUTTONDOWN;
    EXPECT_EQ(outcome.swallowed, press) << outcome.event.message << " at " << outcome.event.atMs;
    presses += press ? 1 : 0;
  }
  EXPECT_EQ(presses, 2 * 150);
  // Each command took its time, and what follows it waited for its end.
  const auto taskkill = machine().processes.Started("taskkill.exe");
  ASSERT_EQ(taskkill.size(), 1u);
  EXPECT_EQ(machine().FirstCall("CreateFileA").timeMs, taskkill[0].startedAtMs + kCommandMs);
  const sim::SimProcess shutdown = machine().processes.Started("shutdown.exe").at(0);
  EXPECT_EQ(machine().FirstCall("PostQuitMessage").timeMs, shutdown.startedAtMs + kCommandMs);
  // During the run: all six policies do nothing.
  ASSERT_GE(machine().power.Writes().size(), 2u);
  for (const win::POWER_ACTION_POLICY& p : {machine().power.Writes()[0].policy.user.PowerButtonAc,
                                             machine().power.Writes()[0].policy.user.LidCloseDc}) {
    EXPECT_EQ(p.Action, win::PowerActionNone);
  }
  // Only the user's companion was stopped, by the stop command, before the flash tool was written.
  EXPECT_EQ(taskkill[0].commandLine, "taskkill /F /IM Brindle.exe");
  EXPECT_EQ(taskkill[0].currentDirectory, "C:\\Windows\\System32");
}

// A hook thread that has not reported within the installation's wait (a page fault, a security
// product's DLL in its start) is called off: whether its hooks arrive before the finish (6 s
// late) or after it, while the restart still runs (25 s late), none of them stays for a moment,
// and both failure boxes are answered at once.
TEST_F(UpdateRunTest, HookThreadTooLateKeepsNoHookAndNoBoxWaitsUnderIt) {
  OnFreshMachines({6000u, 25000u}, [&](std::uint64_t lateMs) {
    machine().processes.Install("C:\\Windows\\System32\\shutdown.exe", sim::Program{.runMs = 15000, .onStart = {}});
    machine().SlowCall("SetWindowsHookExA", lateMs);
    Ended(RunWithBios(u"47K31RA9", {{win::IDOK, 300}, {win::IDOK, 300}}));
    ASSERT_GE(machine().windows.MessageBoxes().size(), 3u);
    for (int i : {1, 2}) {
      const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[i];
      EXPECT_EQ(box.text, i == 1 ? "Keyboard HOOK Error!!" : "Mouse HOOK Error!!");
      EXPECT_EQ(box.closedAtMs - box.openedAtMs, 300u) << box.text;
    }
    // The late thread did install its keyboard hook, and took it away in the same moment.
    ASSERT_FALSE(machine().hooks.Lives().empty());
    for (const sim::Hooks::Life& life : machine().hooks.Lives()) {
      EXPECT_EQ(life.toMs, life.fromMs) << "hook " << life.kind << " installed at " << life.fromMs;
    }
    EXPECT_EQ(machine().processes.RestartRequests().size(), 1u);
  });
}

// Windows takes a hook away, without a word, when its thread misses the time-out: here the hook
// thread stalls for 800 ms a second into the flash, and the presses of that moment reach the
// window. Within a second after the stall the hooks are back, installed anew by their thread
// (the new one first, then the old removed), and every press to the end of the flash is
// swallowed again.
TEST_F(UpdateRunTest, HookThatWindowsTookAwayMidFlashIsBackWithinASecond) {
  constexpr std::uint64_t kFlashStartMs = kWorkerStartMs + 12000, kStallAtMs = kFlashStartMs + 1000, kStallMs = 800;
  machine().windows.StallHookThread(kStallAtMs, kStallMs);
  for (std::uint64_t at = kFlashStartMs + 100; at < kFlashStartMs + kFlashRunMs; at += 100) {
    machine().windows.ScheduleInput({at, true, win::WM_KEYDOWN});
    machine().windows.ScheduleInput({at, false, win::WM_LBUTTONDOWN});
  }
  Ended(RunWithBios(u"47K31RA9"));
  EXPECT_EQ(machine().hooks.timedOut, 2);
  int lost = 0;
  for (const sim::InputOutcome& outcome : machine().windows.InputOutcomes()) {
    const bool stalled = outcome.event.atMs >= kStallAtMs && outcome.event.atMs < kStallAtMs + kStallMs + 1000;
    EXPECT_TRUE(stalled || outcome.swallowed) << outcome.event.message << " at " << outcome.event.atMs;
    lost += outcome.swallowed ? 0 : 1;
  }
  EXPECT_GT(lost, 0);
  ExpectMachineRestored();
  // The first renewal, half a second in: each hook's successor before its removal.
  std::vector<std::string> renewal;
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.thread == machine().FirstCall("SetWindowsHookExA").thread && r.timeMs == 500 &&
        (r.name == "SetWindowsHookExA" || r.name == "UnhookWindowsHookEx")) {
      renewal.push_back(r.name + " " + r.Text());
    }
  }
  EXPECT_EQ(renewal, (std::vector<std::string>{"SetWindowsHookExA 13 4194304 0", "UnhookWindowsHookEx ",
                                               "SetWindowsHookExA 14 4194304 0", "UnhookWindowsHookEx "}));
}

// ----- the user's No, and what the system asks of the window -----

TEST_F(UpdateRunTest, NoChangesNothingButAnEarlierRunsFolder) {
  LeaveEarlierRun();
  machine().windows.ScriptAnswer(win::IDNO);
  const sim::ProcessResult result = sim::RunProcess("");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(machine().power.Writes().empty());
  EXPECT_EQ(machine().hooks.everInstalled, 0);
  EXPECT_TRUE(machine().processes.Started("taskkill.exe").empty());
  EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
  EXPECT_FALSE(machine().windows.WindowsCreated()[0].topmost);
}

// No sleep while the window exists: with the question still open, during the run, and after
// the finish while the restart command runs (for 2 s here). Only query-suspend (0) and suspend
// (4) are refused.
TEST_F(UpdateRunTest, SuspendIsRefusedForTheWholeLifeOfTheWindow) {
  machine().processes.Install("C:\\Windows\\System32\\shutdown.exe", sim::Program{.runMs = 2000, .onStart = {}});
  const win::WPARAM events[] = {0, 1, 4, 7, 0x12};
  for (const std::uint64_t at : {100, 5000, 19500}) {  // the answer comes at 1 s, the finish at 19 s
    for (std::size_t i = 0; i < std::size(events); ++i) {
      machine().windows.ScheduleMessage({at + 10 * i, win::WM_POWERBROADCAST, events[i], 0, true});
    }
  }
  machine().wmi.biosVersions = {u"47K31RA9"};
  machine().windows.ScriptAnswer(win::IDYES, 1000);
  sim::RunProcess("");
  const auto& answers = machine().windows.OutsideAnswers();
  ASSERT_EQ(answers.size(), 15u);
  for (const sim::OutsideAnswer& a : answers) {
    const bool refusable = a.message.wParam == 0 || a.message.wParam == 4;
    EXPECT_EQ(a.result == win::BROADCAST_QUERY_DENY, refusable) << "event " << a.message.wParam << " at " << a.message.atMs;
  }
  std::vector<sim::CallRecord> seen;
  std::copy_if(machine().Calls().begin(), machine().Calls().end(), std::back_inserter(seen), [](const sim::CallRecord& r) {
    return r.name == "MessageBoxClosed" || r.name == "PostQuitMessage" ||
           (r.name == "Message" && r.args[0] == sim::Arg(win::WM_POWERBROADCAST));
  });
  std::vector<Expected> expected;
  for (const char* boundary : {"MessageBoxClosed", "PostQuitMessage", ""}) {
    for (const win::WPARAM event : events) expected.push_back({"Message", {win::WM_POWERBROADCAST, event}});
    if (*boundary != '\0') expected.push_back({boundary});
  }
  EXPECT_TRUE(MatchesSequence(seen, expected));
}

TEST_F(UpdateRunTest, CloseRequestRestoresAndCleansButNeverCloses) {
  machine().windows.ScheduleMessage({4000, win::WM_CLOSE});
  Ended(RunWithBios(u"47K31RA9"));
  ASSERT_EQ(machine().windows.OutsideAnswers().size(), 1u);
  EXPECT_EQ(machine().windows.OutsideAnswers()[0].result, 0);
  EXPECT_EQ(std::count(machine().debugOutput.begin(), machine().debugOutput.end(), "WM_CLOSE true"), 1);
  // The worker went on. The close removed the flash tool after the capsule lookup, so the
  // flash run found no tool, said so, and the finish undid the locks.
  EXPECT_EQ(machine().windows.MessageBoxes().back().text, "Cannot excute WinFlash64.exe");
  ExpectMachineRestored();
}

TEST_F(UpdateRunTest, CloseRequestBeforeTheSaveWritesNothing) {
  machine().windows.ScheduleMessage({0, win::WM_CLOSE});
  machine().windows.ScriptAnswer(win::IDNO, 100);
  sim::RunProcess("");
  EXPECT_TRUE(machine().power.Writes().empty());
  EXPECT_EQ(machine().debugOutput, (std::vector<std::string>{"WM_CLOSE false"}));
}

TEST_F(UpdateRunTest, EndOfSessionRestoresUnlessTheRestartManagerAsks) {
  machine().windows.ScheduleMessage({3000, win::WM_QUERYENDSESSION, 0, win::ENDSESSION_CLOSEAPP});
  machine().windows.ScheduleMessage({3100, win::WM_QUERYENDSESSION, 0, 0});
  RunWithBios(u"47K31RC1");
  const auto& answers = machine().windows.OutsideAnswers();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].result, win::FALSE);
  EXPECT_EQ(answers[1].result, win::TRUE);
  // The save, the one restore for the log-off, the finish's restore.
  ASSERT_EQ(machine().power.Writes().size(), 3u);
  EXPECT_EQ(machine().power.Writes()[1].atMs, 3100u);
  EXPECT_EQ(machine().power.Writes()[1].policy.user.PowerButtonAc.Action, originalPolicy_.user.PowerButtonAc.Action);
}

// While the flash tool runs (from 13 s to 18 s) nothing may end the session: a restart or
// shut-down, a log-off and the restart manager are all refused, nothing is restored meanwhile,
// and Windows is given the reason in the UI language, on the window's own thread, until the tool
// has ended. Before the flash and after it (while the restart command runs) a shut-down is
// agreed to after the restore, as always; the run still reaches its restart.
TEST_F(UpdateRunTest, SessionEndIsRefusedWhileTheFlashToolRuns) {
  struct Query {
    std::uint64_t atMs;
    win::LPARAM lParam;  // 0: restart or shut-down; 0x80000000: log-off
    win::LRESULT answer;
  };
  const Query queries[] = {{12900, 0, win::TRUE}, {14000, 0, win::FALSE}, {14100, win::ENDSESSION_CLOSEAPP, win::FALSE},
                           {14200, static_cast<win::LPARAM>(0x80000000u), win::FALSE}, {19000, 0, win::TRUE}};
  OnFreshMachines({false, true}, [&](bool korean) {
    if (korean) SetKorean();
    machine().processes.Install("C:\\Windows\\System32\\shutdown.exe", sim::Program{.runMs = 2000, .onStart = {}});
    for (const Query& q : queries) machine().windows.ScheduleMessage({q.atMs, win::WM_QUERYENDSESSION, 0, q.lParam});
    RunWithBios(u"47K31RA9");
    const auto& answers = machine().windows.OutsideAnswers();
    ASSERT_EQ(answers.size(), std::size(queries));
    for (std::size_t i = 0; i < answers.size(); ++i) {
      EXPECT_EQ(answers[i].result, queries[i].answer) << "query at " << queries[i].atMs;
    }
    // The save, the restore for the query before the flash, the finish's, and the one for the
    // query after it, answered once the restart command has ended.
    std::vector<std::uint64_t> writes;
    for (const sim::PolicyWrite& w : machine().power.Writes()) writes.push_back(w.atMs);
    EXPECT_EQ(writes, (std::vector<std::uint64_t>{0, 12900, 18000, 20000}));
    EXPECT_EQ(machine().processes.RestartRequests().size(), 1u);

    const sim::CallRecord& given = machine().FirstCall("ShutdownBlockReasonCreate");
    EXPECT_EQ(given.args[0].Text(), korean ? "BIOS 업데이트 작업이 진행 중일 때에는 절대로 전원을 끄지 마십시오."
                                           : "Do not turn off the power.");
    EXPECT_EQ(given.thread, 0);
    EXPECT_GE(given.timeMs, 13000u);
    EXPECT_LE(given.timeMs, 14000u);
    const sim::CallRecord& taken = machine().FirstCall("ShutdownBlockReasonDestroy");
    EXPECT_EQ(taken.thread, 0);
    EXPECT_EQ(taken.timeMs, 18000u);
    EXPECT_EQ(machine().CountCalls("ShutdownBlockReasonCreate"), 1);
    EXPECT_EQ(machine().CountCalls("ShutdownBlockReasonDestroy"), 1);
  });
}

TEST_F(UpdateRunTest, EnterAndEscapeNeverReachTheDialogsKeyboardHandling) {
  machine().FailCall("SetWindowsHookExA", {.times = 2});  // no lock: keys reach the window
  machine().windows.ScheduleInput({3000, true, win::WM_KEYDOWN});
  machine().windows.ScheduleInput({3100, true, win::WM_SYSKEYDOWN});
  Ended(RunWithBios(u"47K31RC1", {{win::IDOK}, {win::IDOK}}));
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.name == "IsDialogMessage") {
      EXPECT_NE(r.args[0], sim::Arg(win::WM_KEYDOWN));
      EXPECT_NE(r.args[0], sim::Arg(win::WM_SYSKEYDOWN));
    }
  }
  EXPECT_EQ(machine().windows.MessageBoxes()[1].text, "Keyboard HOOK Error!!");
  EXPECT_EQ(machine().windows.MessageBoxes()[2].text, "Mouse HOOK Error!!");
  EXPECT_EQ(machine().windows.InputOutcomes().size(), 2u);
  // The run went its whole way.
  EXPECT_EQ(ShownAt(TextId::StatusInstalledNewer), 7000u);
}

// ----- faulty paths -----

TEST_F(UpdateRunTest, PowerGuardFailureShowsItsMessageAndEndsWithNothingLocked) {
  machine().FailCall("ReadGlobalPwrPolicy");
  LeaveEarlierRun();
  Ended(RunWithBios(u"47K31RA9"));
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 2u);
  const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[1];
  EXPECT_EQ(box.text, "ReadGlobalPwrPolicy Error");
  EXPECT_EQ(box.caption, "BIOSUpdate");
  EXPECT_EQ(box.flags, win::MB_OK);
  EXPECT_EQ(box.owner, machine().windows.MessageBoxes()[0].owner);
  EXPECT_EQ(machine().hooks.everInstalled, 0);
  EXPECT_TRUE(machine().processes.Started("taskkill.exe").empty());
  ExpectMachineRestored();
}

// A restore that still fails at the finish is told only once the input lock is gone, so that
// the box can be answered and the restart after the flash still comes; the end of the session (or
// a close request) while the lock is on tells it to the debugger output only. On a refusal the
// worker has armed the quit timer too: the box stays until it is answered (5 s, longer than the
// timer's 3 s), and the run ends once.
TEST_F(UpdateRunTest, RestoreThatFailsIsToldInABoxThatStaysUntilAnswered) {
  OnFreshMachines({true, false}, [&](bool flashed) {
    // Both restore attempts of the finish fail; the end-of-session query's, earlier, too.
    machine().FailCall("SetActivePwrScheme", {.occurrence = 2, .times = 3});
    machine().windows.ScheduleMessage({6000, win::WM_QUERYENDSESSION});
    Ended(RunWithBios(flashed ? u"47K31RA9" : u"47K31RC1", {{win::IDOK, 5000}}));
    ASSERT_EQ(machine().windows.MessageBoxes().size(), 2u);
    const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[1];
    EXPECT_EQ(box.text, "RESTORE SetActivePwrScheme Error");
    EXPECT_EQ(box.closedAtMs - box.openedAtMs, 5000u);
    EXPECT_EQ(std::count(machine().debugOutput.begin(), machine().debugOutput.end(),
                         std::string("RESTORE SetActivePwrScheme Error")), 1);
    // The quit timer goes first: it would end the box's loop before anyone had read it.
    std::vector<Expected> finishSteps = {{"KillTimer", {kQuitTimer}}, {"SetActivePwrScheme"}, {"SetActivePwrScheme"}, {"UnhookWindowsHookEx"},
                                         {"UnhookWindowsHookEx"}, {"MessageBoxA", {"BIOSUpdate", 0}},
                                         {"ShellExecuteA"}, {"ShellExecuteA"}};
    if (flashed) finishSteps.insert(finishSteps.end(), {{"KillTimer", {kAnimationTimer}}, {"CreateProcessA"}});
    finishSteps.push_back({"PostQuitMessage", {0}});
    const std::vector<sim::CallRecord> calls = WithoutHookRenewals(machine().Calls());
    const auto posted = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) { return r.name == "PostMessageA"; });
    const auto finish = std::find_if(posted, calls.end(), [](const sim::CallRecord& r) { return r.name == "Message"; });
    EXPECT_TRUE(MatchesSequence({finish, calls.end()}, finishSteps));
    EXPECT_EQ(machine().CountCalls("PostQuitMessage"), 1);
    EXPECT_EQ(machine().processes.RestartRequests().size(), flashed ? 1u : 0u);
    EXPECT_EQ(machine().hooks.leftAtProcessEnd, 0);
  });
}

TEST_F(UpdateRunTest, WorkerThatCannotStartUndoesTheLocksBeforeQuitting) {
  machine().FailCall("CreateThread", {.occurrence = 2});
  Ended(RunWithBios(u"47K31RA9"));
  EXPECT_EQ(machine().CountCalls("PostMessageA"), 1);
  EXPECT_EQ(machine().FirstCall("PostMessageA").args[0], sim::Arg(kQuit));
  EXPECT_FALSE(MarkerWritten());
  ExpectMachineRestored();
}

TEST_F(UpdateRunTest, FlashToolThatCannotStartIsToldAndTheFinishUndoesTheLocks) {
  machine().resources.Remove("FILE", kFlashToolId);
  EXPECT_FALSE(Ended(RunWithBios(u"47K31RA9", {{win::IDOK, 2000}})).exitedThroughCrt);
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 2u);
  const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[1];
  EXPECT_EQ(box.text, "Cannot excute WinFlash64.exe");
  EXPECT_EQ(box.flags, win::MB_OK | win::MB_ICONEXCLAMATION);
  EXPECT_EQ(box.thread, 2);  // the worker's (the input lock's thread is 1)
  // The lock was gone before the box opened, or no click or key could have closed it.
  EXPECT_LT(machine().IndexOfCall("UnhookWindowsHookEx"), machine().IndexOfCall("MessageBoxA", machine().IndexOfCall("MessageBoxA") + 1));
  // The window went on animating while the box was open, but did not cover the box it owns.
  int ticks = 0;
  int covers = 0;
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.timeMs <= box.openedAtMs || r.timeMs >= box.closedAtMs) continue;
    ticks += r.name == "Message" && r.args[0] == sim::Arg(win::WM_TIMER) ? 1 : 0;
    covers += r.name == "SetWindowPos" ? 1 : 0;
  }
  EXPECT_EQ(ticks, 19);  // 13.1 s to 14.9 s
  EXPECT_EQ(covers, 0);
  EXPECT_FALSE(MarkerWritten());
  EXPECT_TRUE(machine().processes.RestartRequests().empty());
  EXPECT_EQ(machine().FirstCall("PostMessageA").args, (std::vector<sim::Arg>{kFinish, 0}));
  ExpectMachineRestored();
}

TEST_F(UpdateRunTest, CapsuleThatCouldNotBeWrittenIsRefusedAsMissing) {
  machine().FailCall("WriteFile", {.occurrence = 2});  // the flash tool's write goes through
  Ended(RunWithBios(u"47K31RA9"));
  EXPECT_EQ(ShownAt(TextId::StatusNoCapsule), 1000u);
  EXPECT_EQ(machine().FirstCall("PostMessageA").timeMs - kWorkerStartMs, 4000u);
  EXPECT_TRUE(machine().processes.Flashes().empty());
  EXPECT_TRUE(MarkerWritten());
  ExpectMachineRestored();
}

// The command buffer holds 255 characters: a working folder of 197 characters makes a command
// line of exactly 255, and the tool runs; one of 198 would not fit, and nothing runs.
TEST_F(UpdateRunTest, WorkingFolderTooLongForTheCommandBufferRunsNothing) {
  OnFreshMachines({197u, 198u}, [&](std::size_t folder) {
    machine().programFilesFolder = "C:\\" + std::string(folder - 3 - 11, 'P');
    machine().files.AddFolder(machine().programFilesFolder);
    Ended(RunWithBios(u"47K31RA9"));
    const bool fits = folder == 197;
    ASSERT_EQ(machine().processes.Flashes().size(), fits ? 1u : 0u);
    if (fits) {
      EXPECT_EQ(machine().processes.Flashes()[0].commandLine.size(), 255u);
    } else {
      EXPECT_EQ(machine().windows.MessageBoxes().back().text, "Cannot excute WinFlash64.exe");
    }
    EXPECT_EQ(MarkerWritten(), fits);
  });
}

// With the finish message lost, the quit timer ends the run. Its restore failing here too, the
// box that tells it stays until answered (5 s, longer than the timer's period): the timer is
// killed before anything can show a box.
TEST_F(UpdateRunTest, LostFinishMessageStillEndsTheRunOnceThroughTheQuitTimer) {
  OnFreshMachines({false, true}, [&](bool restoreFails) {
    machine().FailCall("PostMessageA", {.times = 10});  // every post of the finish message is refused
    if (restoreFails) machine().FailCall("SetActivePwrScheme", {.occurrence = 2, .times = 2});
    const sim::ProcessResult result = Ended(RunWithBios(u"47K31RC1", {{win::IDOK, 5000}}));
    EXPECT_EQ(machine().CountCalls("PostQuitMessage"), 1);
    if (!restoreFails) {
      EXPECT_EQ(result.endedAtMs, kWorkerStartMs + 12000 + 3000);
      ExpectMachineRestored();
      return;
    }
    ASSERT_EQ(machine().windows.MessageBoxes().size(), 2u);
    const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[1];
    EXPECT_EQ(box.text, "RESTORE SetActivePwrScheme Error");
    EXPECT_EQ(box.closedAtMs - box.openedAtMs, 5000u);
    const auto& calls = machine().Calls();
    const auto killed = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) {
      return r.name == "KillTimer" && r.args.at(0) == sim::Arg(kQuitTimer);
    });
    EXPECT_LT(killed - calls.begin(), machine().IndexOfCall("MessageBoxA", machine().IndexOfCall("MessageBoxA") + 1));
  });
}

TEST_F(UpdateRunTest, IdentityQueryFailuresLeaveTheVersionEmptyAndTheRunGoesOn) {
  OnFreshMachines({"CoCreateInstance", "ConnectServer", "CreateInstanceEnum", "EnumNext", "ObjectGet",
                   "WideCharToMultiByte"}, [&](const char* call) {
    machine().FailCall(call);
    RunWithBios(u"47K31RA9");
    EXPECT_EQ(ShownAt(TextId::StatusWrongModel), 7000u);
    EXPECT_TRUE(machine().files.FolderExists(kWorkingFolder) == false);
    EXPECT_EQ(machine().wmi.LiveObjects(), 0) << "every COM object released";
    EXPECT_EQ(machine().wmi.StringsNotFreed(), 0);
  });
}

TEST_F(UpdateRunTest, EnumerationThatTimesOutWaitsTwoSecondsAndLeavesTheVersionEmpty) {
  machine().wmi.enumerationTimesOut = true;
  RunWithBios(u"47K31RA9");
  EXPECT_EQ(ShownAt(TextId::StatusWrongModel), 2000u + 7000u);
  EXPECT_EQ(machine().FirstCall("EnumNext").args, (std::vector<sim::Arg>{2000, 1}));
  // The worker starts only after the query, 2 s later than usual.
  EXPECT_EQ(WorkerStart().timeMs, kWorkerStartMs + 2000);
}

// The version in the thread's code page, upper-cased by its rules: a double-byte character keeps
// both its bytes, even a second byte that reads as a small letter (U+AC35 is 81 61 in code page
// 949). A value that is no string, or an empty one, is no version.
TEST_F(UpdateRunTest, BiosVersionIsUpperCasedInTheThreadsCodePageAndOnlyAStringCounts) {
  struct Row {
    std::u16string value;
    win::VARTYPE type;
    const char* version;
  };
  for (const Row& row : {Row{u"47k31r\uAC35b", win::VT_BSTR, "47K31R\x81\x61" "B"}, Row{u"", win::VT_BSTR, ""},
                         Row{u"47K31RA9", 3 /* VT_I4 */, ""}}) {
    sim::ResetMachine();
    SetKorean();
    machine().wmi.biosVersions = {row.value};
    machine().wmi.versionType = row.type;
    std::string version = "not read";
    RunInProcess([&] {
      update::WmiConnection connection;
      version = update::QueryBiosVersion(connection);
    });
    EXPECT_EQ(version, row.version);
  }
}

TEST_F(UpdateRunTest, OnlyTheFirstOfTwoBiosInstancesCounts) {
  machine().wmi.biosVersions = {u"47K31RC1", u"47K31RA9"};
  machine().windows.ScriptAnswer(win::IDYES);
  sim::RunProcess("");
  EXPECT_EQ(ShownAt(TextId::StatusInstalledNewer), 7000u);
}

TEST_F(UpdateRunTest, KoreanSystemShowsKoreanStatusTexts) {
  SetKorean();
  RunWithBios(u"47K31RC1");
  EXPECT_EQ(ShownAt(TextId::StatusInstalledNewer), 7000u);
  EXPECT_EQ(machine().gdi.TextsDrawn().back().rect.top, 300);
}

}  // namespace
