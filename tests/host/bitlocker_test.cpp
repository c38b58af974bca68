// The BitLocker step of an allowed update, on the simulated machine: what manage-bde was asked,
// whether the flash ran, and how protection was left.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guards/bitlocker.h"
#include "sim_fixture.h"

namespace {

using namespace testing_support;

constexpr const char* kBde = "\"C:\\Windows\\Sysnative\\manage-bde.exe\"";
const std::string kStatus = std::string(kBde) + " -status C: -ProtectionAsErrorLevel";
const std::string kSuspend = std::string(kBde) + " -protectors -disable C: -RebootCount 1";
const std::string kResume = std::string(kBde) + " -protectors -enable C:";
constexpr const char* kRefusal = "BitLocker could not be suspended. Suspend BitLocker, then update BIOS.";

struct Case {
  const char* name;
  const char* bios;
  sim::Protection protection;
  void (*arrange)(sim::BitLocker&);
  std::vector<std::string> asked;
  bool flashed;
  sim::Protection after;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

class BitLockerRun : public SimTest, public ::testing::WithParamInterface<Case> {};

TEST_P(BitLockerRun, AsksSuspendsOrRefusesAndLeavesProtectionSound) {
  const Case& c = GetParam();
  machine().processes.flashTool.runMs = 1000;
  machine().bitLocker.protection = c.protection;
  c.arrange(machine().bitLocker);
  machine().wmi.biosVersions = {std::u16string(c.bios, c.bios + std::char_traits<char>::length(c.bios))};
  machine().windows.ScriptAnswer(win::IDYES);
  Ended(sim::RunProcess(""));
  std::vector<std::string> asked;
  for (const sim::SimProcess& p : machine().processes.Started("manage-bde.exe")) {
    asked.push_back(p.commandLine);
    EXPECT_EQ(p.image, sim::BitLocker::kManageBdePath);
  }
  EXPECT_EQ(asked, c.asked);
  EXPECT_EQ(machine().processes.Flashes().size(), c.flashed ? 1u : 0u);
  EXPECT_EQ(machine().bitLocker.protection, c.after);
  EXPECT_FALSE(machine().bitLocker.LeftOffWithoutCount());
  if (c.after == sim::Protection::Suspended) {
    EXPECT_EQ(machine().bitLocker.rebootCount, 1);
  }
  bool refusalDrawn = false;
  for (const sim::DrawnText& drawn : machine().gdi.TextsDrawn()) refusalDrawn = refusalDrawn || drawn.text == kRefusal;
  EXPECT_EQ(refusalDrawn, !c.flashed && c.asked.size() > 0);
  EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
}

void Nothing(sim::BitLocker&) {}

INSTANTIATE_TEST_SUITE_P(
    States, BitLockerRun,
    ::testing::Values(
        Case{"Protected", "47K31RA9", sim::Protection::On, Nothing, {kStatus, kSuspend, kStatus}, true, sim::Protection::Suspended},
        Case{"NotProtected", "47K31RA9", sim::Protection::Off, Nothing, {kStatus}, true, sim::Protection::Off},
        Case{"SuspensionRefused", "47K31RA9", sim::Protection::On, [](sim::BitLocker& b) { b.refusesSuspension = true; },
             {kStatus, kSuspend, kResume}, false, sim::Protection::On},
        Case{"SuspensionDoesNotHold", "47K31RA9", sim::Protection::On, [](sim::BitLocker& b) { b.suspensionDoesNotHold = true; },
             {kStatus, kSuspend, kStatus, kResume}, false, sim::Protection::On},
        Case{"Windows7HasNoRebootCount", "47K31RA9", sim::Protection::On, [](sim::BitLocker& b) { b.hasRebootCount = false; },
             {kStatus, kSuspend, kResume}, false, sim::Protection::On},
        Case{"StatusNeitherZeroNorOne", "47K31RA9", sim::Protection::On, [](sim::BitLocker& b) { b.statusExitCode = 5; },
             {kStatus}, true, sim::Protection::On},
        Case{"NoManageBde", "47K31RA9", sim::Protection::On, [](sim::BitLocker& b) { b.RemoveManageBde(); }, {}, true,
             sim::Protection::On},
        Case{"SameVersionAsksNothing", "47K31RB4", sim::Protection::On, Nothing, {}, false, sim::Protection::On}),
    kByName);

// The flash tool cannot be started after the suspension: protection goes back on.
TEST_F(SimTest, SuspensionIsResumedWhenTheFlashToolCannotStart) {
  machine().bitLocker.protection = sim::Protection::On;
  machine().resources.Remove("FILE", kFlashToolId);
  machine().wmi.biosVersions = {u"47K31RA9"};
  machine().windows.ScriptAnswer(win::IDYES);
  machine().windows.ScriptAnswer(win::IDOK, 1000);
  Ended(sim::RunProcess(""));
  const auto asked = machine().processes.Started("manage-bde.exe");
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked.back().commandLine, kResume);
  EXPECT_EQ(machine().bitLocker.protection, sim::Protection::On);
}

TEST(BitLockerCommands, NameManageBdeOfTheProcessWidthAndTheWindowsDrive) {
  struct Row {
    const char* windows;
    bool process64;
    const char* manageBde;  // null: no commands
    const char* status;
  };
  for (const Row& r : {Row{"C:\\Windows", false, "C:\\Windows\\Sysnative\\manage-bde.exe",
                           "\"C:\\Windows\\Sysnative\\manage-bde.exe\" -status C: -ProtectionAsErrorLevel"},
                       Row{"D:\\WINNT", true, "D:\\WINNT\\System32\\manage-bde.exe",
                           "\"D:\\WINNT\\System32\\manage-bde.exe\" -status D: -ProtectionAsErrorLevel"},
                       Row{"\\\\server\\share", false, nullptr, nullptr}, Row{"", false, nullptr, nullptr}}) {
    const auto commands = guards::BitLockerCommandsFor(r.windows, r.process64);
    ASSERT_EQ(commands.has_value(), r.manageBde != nullptr) << r.windows;
    if (!commands) continue;
    EXPECT_STREQ(commands->manageBde, r.manageBde);
    EXPECT_STREQ(commands->status, r.status);
  }
}

}  // namespace
