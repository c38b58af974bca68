// Whole runs of the program on the simulated machine: start-up, run modes and the declined
// confirmation.
#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "sequence.h"
#include "sim_fixture.h"
#include "ui/texts.h"

namespace {

using namespace testing_support;

constexpr const char* kMutexName = "The Program of BIOS update program";
constexpr win::UINT kQuestionFlags = 0x34;  // MB_YESNO | MB_ICONEXCLAMATION
constexpr win::UINT kAppBoxFlags = 0x30;    // MB_OK | MB_ICONEXCLAMATION

class StartupTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    machine().registry.SetValue(kRunKey, "BIOSUpdate", {1, "C:\\BIOSUpdate.exe 1"});
    machine().registry.SetValue(kRunKey, "Other", {1, "other.exe"});
  }
  // Runs the program and answers its question No.
  static sim::ProcessResult RunDeclined(const char* arguments = "") {
    machine().windows.ScriptAnswer(win::IDNO);
    return sim::RunProcess(arguments);
  }
  static bool RunValuePresent() { return machine().registry.ValueOf(kRunKey, "BIOSUpdate").has_value(); }
  // The calls that the run made in this order (other calls may lie between them).
  static void ExpectInOrder(const std::vector<std::string>& expected) {
    std::size_t from = 0;
    for (const std::string& name : expected) {
      const int at = machine().IndexOfCall(name, from);
      ASSERT_GE(at, 0) << name << " missing or out of order";
      from = static_cast<std::size_t>(at) + 1;
    }
  }
};

// ----- the run-mode table, through whole runs -----

class CleanUpModeArguments : public StartupTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CleanUpModeArguments, RemoveRunValueAndWorkingFolderSilently) {
  LeaveEarlierRun();
  const sim::ProcessResult result = sim::RunProcess(GetParam());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(result.exitedThroughCrt);
  EXPECT_FALSE(RunValuePresent());
  EXPECT_TRUE(machine().registry.ValueOf(kRunKey, "Other").has_value());
  EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
  EXPECT_TRUE(machine().windows.WindowsCreated().empty());
  EXPECT_TRUE(machine().windows.MessageBoxes().empty());
  EXPECT_EQ(machine().CountCalls("CoInitialize"), 0);
  EXPECT_EQ(machine().CountCalls("CoInitializeSecurity"), 0);
}

// Hostile command lines: very long, non-ASCII, format characters, overflow, quotes.
const std::string kLongFromOne = "1" + std::string(31999, 'x');
const std::string kLongNines(32000, '9');

INSTANTIATE_TEST_SUITE_P(Arguments, CleanUpModeArguments,
                         ::testing::Values("1", " 1", "1 2", "1abc", "+1", "1\"2\"", "\t1%n%s",
                                           kLongFromOne.c_str()));

class UpdateModeArguments : public StartupTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UpdateModeArguments, AskTheQuestionAndNoChangesNothingButTheWorkingFolder) {
  LeaveEarlierRun();
  Ended(RunDeclined(GetParam()));
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[0];
  EXPECT_EQ(box.caption, "BIOS update");
  EXPECT_EQ(box.flags, kQuestionFlags);
  EXPECT_EQ(box.text, ui::UiText(ui::TextId::ConfirmBody));
  // Owned by the controller window.
  ASSERT_EQ(machine().windows.WindowsCreated().size(), 1u);
  EXPECT_NE(box.owner, nullptr);
  // The earlier run's leftovers are gone; nothing else changed.
  EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
  EXPECT_TRUE(RunValuePresent());
  EXPECT_EQ(machine().CountCalls("CreateFileA"), 0);
  EXPECT_EQ(machine().CountCalls("CreateDirectoryA"), 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, UpdateModeArguments,
                         ::testing::Values("", "0", "2", "-1", "abc", "\"1\"", "4294967297", "%n%s%x%p",
                                           "\xEC\x95\x88", "99999999999", "-99999999999", "--1", "+-1",
                                           kLongNines.c_str()));

// ----- the order of the start-up -----

TEST_F(StartupTest, UpdateModeStartsUpInOrder) {
  RunDeclined();
  ExpectInOrder({"InitCommonControls", "AfxEnableControlContainer", "CreateMutexA",
                 "IsWow64Process", "CoInitialize", "CoInitializeSecurity", "DoModal",
                 "MessageBoxA", "PostMessageA", "PostQuitMessage", "ProcessEnd"});
  EXPECT_EQ(machine().Calls()[0].name, "ProcessStart");
  EXPECT_EQ(machine().Calls()[1].name, "SetDefaultDllDirectories");
  // A crash from here on ends the process without a box that nobody could answer: no box of the
  // system's (the error mode, kept to the end, with no error-reporting UI), no ghost of a window
  // that stopped answering, room on the stack for a stack overflow's handling, then the filter.
  EXPECT_TRUE(MatchesSequence({machine().Calls().begin() + 2, machine().Calls().begin() + 9},
                              {{"SetErrorMode", {0x8003}},
                               {"WerSetFlags", {0x20 /* WER_FAULT_REPORTING_NO_UI */}},
                               {"DisableProcessWindowsGhosting"},
                               {"SetThreadStackGuarantee", {64 * 1024}},
                               {"SetUnhandledExceptionFilter"},
                               {"SetCrtFailureHandler"},
                               {"InitCommonControls"}}));
  EXPECT_EQ(machine().FirstCall("CreateMutexA").args, (std::vector<sim::Arg>{kMutexName, win::FALSE}));
  // Process-wide security: COM picks the services, packet privacy, impersonation, secure refs.
  EXPECT_EQ(machine().Calls()[machine().IndexOfCall("CoInitializeSecurity")].Text(),
            "-1 6 3 2 null");
  EXPECT_EQ(machine().CountCalls("SHDeleteValueA"), 0);
}

// Before anything is loaded: the search is restricted to the system folder (0x800), and where
// Windows lacks the call (7 without its update, Vista) the current directory leaves it.
TEST_F(StartupTest, DllSearchIsRestrictedFirstWithOrWithoutSetDefaultDllDirectories) {
  OnFreshMachines({true, false}, [&](bool present) {
    if (!present) machine().FailCall("SetDefaultDllDirectories", {.error = 127});
    RunDeclined();
    std::vector<Expected> expected{{"ProcessStart"}, {"SetDefaultDllDirectories", {0x800}}};
    if (!present) expected.push_back({"SetDllDirectoryA", {""}});
    expected.push_back({"InitCommonControls"});
    EXPECT_TRUE(MatchesSequence(machine().Calls(), expected));
    EXPECT_EQ(machine().CountCalls("SetDllDirectoryA"), present ? 0 : 1);
  });
}

TEST_F(StartupTest, CleanUpModeStartsUpInOrder) {
  sim::RunProcess("1");
  ExpectInOrder({"InitCommonControls", "CreateMutexA", "IsWow64Process", "SHDeleteValueA",
                 "DeleteFileA", "DeleteFileA", "RemoveDirectoryA", "ProcessEnd"});
  EXPECT_EQ(machine().Calls()[machine().IndexOfCall("SHDeleteValueA")].Text(),
            std::string(kRunKey) + " BIOSUpdate");
}

TEST_F(StartupTest, CleanUpModeWithNothingToRemoveEndsNormallyAndChangesNothing) {
  machine().registry.Clear();
  const auto before = machine().files.Paths();
  const sim::ProcessResult result = sim::RunProcess("1");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(result.exitedThroughCrt);
  EXPECT_EQ(machine().CountCalls("RemoveDirectoryA"), 1);  // it tried
  EXPECT_EQ(machine().files.Paths(), before);
  EXPECT_TRUE(machine().windows.MessageBoxes().empty());
}

// ----- a second instance -----

class SecondInstance : public StartupTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SecondInstance, EndsSilentlyWhateverItsArguments) {
  LeaveEarlierRun();
  machine().mutexesOfOtherProcesses.insert(kMutexName);
  const sim::ProcessResult result = sim::RunProcess(GetParam());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(machine().windows.MessageBoxes().empty());
  EXPECT_TRUE(machine().windows.WindowsCreated().empty());
  EXPECT_TRUE(RunValuePresent());
  EXPECT_TRUE(machine().files.FileExists(kCapsulePath));
  EXPECT_EQ(machine().CountCalls("IsWow64Process"), 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, SecondInstance, ::testing::Values("", "1", "0", "abc"));

TEST_F(StartupTest, InstanceNameIsFreeAgainAfterTheProcessEnds) {
  sim::RunProcess("1");
  RunDeclined();
  EXPECT_EQ(machine().windows.MessageBoxes().size(), 1u);
}

// ----- the 64-bit gate -----

struct GateCase {
  const char* name;
  bool wow64;
  bool callFails;
  const char* arguments;
};

std::ostream& operator<<(std::ostream& os, const GateCase& c) { return os << c.name; }

class Not64BitWindows : public StartupTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(Not64BitWindows, ShowsTheMessageAndExitsAtOnceWithoutChangingAnything) {
  LeaveEarlierRun();
  SetKorean();  // the message is English in every language
  machine().wow64Process = GetParam().wow64;
  if (GetParam().callFails) machine().FailCall("IsWow64Process");
  const sim::ProcessResult result = sim::RunProcess(GetParam().arguments);
  EXPECT_TRUE(result.exitedThroughCrt);
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  EXPECT_EQ(machine().windows.MessageBoxes()[0].text, "Norvik BIOS Updater only for 64-bit OS.");
  EXPECT_EQ(machine().windows.MessageBoxes()[0].caption, "BIOSUpdate");
  EXPECT_EQ(machine().windows.MessageBoxes()[0].flags, kAppBoxFlags);
  EXPECT_EQ(machine().windows.MessageBoxes()[0].owner, nullptr);
  EXPECT_TRUE(RunValuePresent());
  EXPECT_TRUE(machine().files.FileExists(kFlashToolPath));
  EXPECT_TRUE(machine().windows.WindowsCreated().empty());
  EXPECT_EQ(machine().CountCalls("CoInitialize"), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Not64BitWindows,
                         ::testing::Values(GateCase{"Windows32UpdateMode", false, false, ""},
                                           GateCase{"Windows32CleanUpMode", false, false, "1"},
                                           GateCase{"QueryFailsUpdateMode", true, true, ""},
                                           GateCase{"QueryFailsCleanUpMode", true, true, "1"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(StartupTest, CaptionFollowsTheExecutablesName) {
  machine().wow64Process = false;
  machine().modulePath = "D:\\Updates\\Norvik_47K31RB4.exe";
  sim::RunProcess("");
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  EXPECT_EQ(machine().windows.MessageBoxes()[0].caption, "Norvik_47K31RB4");
}

// ----- COM security (its failure in each language and locale: with the texts) -----

TEST_F(StartupTest, PositiveSecurityResultCountsAsSuccess) {
  machine().FailCall("CoInitializeSecurity", {.error = 1});  // S_FALSE: a success
  RunDeclined();
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  EXPECT_EQ(machine().windows.MessageBoxes()[0].caption, "BIOS update");
}

// ----- the controller window up to the answer -----

TEST_F(StartupTest, WindowGetsIconToolStyleAndTitleBeforeTheQuestion) {
  RunDeclined();
  ASSERT_EQ(machine().windows.WindowsCreated().size(), 1u);
  const sim::Window& window = machine().windows.WindowsCreated()[0];
  EXPECT_EQ(window.templateId, 102u);
  EXPECT_NE(window.bigIcon, nullptr);
  EXPECT_EQ(window.bigIcon, window.smallIcon);
  EXPECT_EQ(window.exStyle, win::WS_EX_TOOLWINDOW);
  EXPECT_EQ(window.title, "BIOS Update Program");
  EXPECT_EQ(machine().Calls()[machine().IndexOfCall("LoadIconA")].Text(), "128");
  ExpectInOrder({"SendMessageA", "SendMessageA", "SetWindowLongA", "SetWindowTextA", "MessageBoxA"});
  // Big icon first, then the small one.
  const int big = machine().IndexOfCall("SendMessageA");
  EXPECT_EQ(machine().Calls()[big].Text(), "128 1");
  EXPECT_EQ(machine().Calls()[machine().IndexOfCall("SendMessageA", big + 1)].Text(), "128 0");
}

TEST_F(StartupTest, KoreanSystemGetsKoreanTitleAndQuestionUnderTheEnglishCaption) {
  SetKorean();
  RunDeclined();
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  EXPECT_EQ(machine().windows.MessageBoxes()[0].caption, "BIOS update");
  EXPECT_EQ(machine().windows.MessageBoxes()[0].text.size(), 267u);
  EXPECT_EQ(machine().windows.WindowsCreated()[0].title.size(), 22u);
}

TEST_F(StartupTest, NoAnswerQuitsThroughTheQuitMessage) {
  RunDeclined();
  const int post = machine().IndexOfCall("PostMessageA");
  ASSERT_GE(post, 0);
  EXPECT_EQ(machine().Calls()[post].Text(), "2055 0");
  EXPECT_GT(post, machine().IndexOfCall("RemoveDirectoryA"));
  EXPECT_GT(machine().IndexOfCall("PostQuitMessage"), post);
}

TEST_F(StartupTest, ConfirmedRunLeavesTheMachineAsItFoundIt) {
  machine().windows.ScriptAnswer(win::IDYES);
  Ended(sim::RunProcess(""));
  EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
  EXPECT_TRUE(RunValuePresent());
  EXPECT_EQ(machine().OpenHandles("file"), 0);
}

}  // namespace
