#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <string>

#include "app/working_folder.h"
#include "sim_fixture.h"

namespace {

using app::PayloadResult;
using namespace testing_support;

using WorkingFolderTest = SimTest;

TEST_F(WorkingFolderTest, PathsLieUnderTheProgramFilesFolder) {
  EXPECT_EQ(app::WorkingFolderPath(), kWorkingFolder);
  EXPECT_EQ(app::FlashToolPath(), kFlashToolPath);
  EXPECT_EQ(app::CapsulePath(), kCapsulePath);
}

TEST_F(WorkingFolderTest, UnknownProgramFilesFolderGivesNoPathAndTouchesNothing) {
  machine().FailCall("SHGetFolderPathA", {.times = sim::kEveryCall});
  EXPECT_FALSE(app::WorkingFolderPath());
  EXPECT_FALSE(app::CapsulePath());
  EXPECT_EQ(app::ExtractFlashTool(), PayloadResult::NotWritten);
  std::string capsuleName;
  EXPECT_EQ(app::ExtractCapsule(capsuleName), PayloadResult::NotWritten);
  app::CleanUpWorkingFolder();
  for (const char* call : {"DeleteFileA", "RemoveDirectoryA", "CreateDirectoryA", "CreateFileA"}) {
    EXPECT_EQ(machine().CountCalls(call), 0) << call;
  }
}

TEST_F(WorkingFolderTest, PathThatWouldNotFitIn260BytesIsRefused) {
  // 259 characters in all is the most a path may have.
  machine().programFilesFolder = "C:\\" + std::string(259 - 3 - 11 - 15, 'P');
  ASSERT_TRUE(app::WorkingFolderPath());
  EXPECT_EQ(app::FlashToolPath()->size(), 259u);
  machine().programFilesFolder += "P";
  EXPECT_TRUE(app::WorkingFolderPath());
  EXPECT_FALSE(app::FlashToolPath());
  // The capsule's name is two characters shorter and still fits.
  EXPECT_EQ(app::CapsulePath()->size(), 258u);
}

// Into a new folder, or over the payloads an earlier run left.
TEST_F(WorkingFolderTest, ExtractionsCreateTheFolderAndWriteBothPayloadsByteForByte) {
  OnFreshMachines({false, true}, [&](bool earlierRun) {
    if (earlierRun) LeaveEarlierRun();
    std::string capsuleName;
    EXPECT_EQ(app::ExtractFlashTool(), PayloadResult::Written);
    EXPECT_EQ(app::ExtractCapsule(capsuleName), PayloadResult::Written);
    EXPECT_EQ(capsuleName, "47K31RB4.cap");
    ASSERT_TRUE(machine().files.FolderExists(kWorkingFolder));
    EXPECT_EQ(machine().files.FileAt(kFlashToolPath)->bytes, kFlashToolBytes);
    EXPECT_EQ(machine().files.FileAt(kCapsulePath)->bytes, kCapsuleBytes);
    EXPECT_EQ(machine().files.FileAt(kFlashToolPath)->name, "WinFlash64.exe");
    EXPECT_EQ(machine().OpenHandles("file"), 0);
    // One write of all bytes, into a file opened for writing only, unshared, replaced if there.
    EXPECT_EQ(machine().FirstCall("CreateFileA").Text(), std::string(kFlashToolPath) + " 1073741824 0 2 128");
    EXPECT_EQ(machine().CountCalls("WriteFile"), 2);
  });
}

TEST_F(WorkingFolderTest, UndeletableOldFileStaysUnchangedAndNothingIsWritten) {
  machine().files.AddFolder(kWorkingFolder);
  machine().files.AddFile(kCapsulePath, "held open elsewhere", /*locked=*/true);
  std::string capsuleName;
  EXPECT_EQ(app::ExtractCapsule(capsuleName), PayloadResult::NotWritten);
  EXPECT_EQ(capsuleName, "47K31RB4.cap");
  EXPECT_EQ(machine().files.FileAt(kCapsulePath)->bytes, "held open elsewhere");
  EXPECT_EQ(machine().CountCalls("CreateFileA"), 0);
}

// Every way the writer can fail: nothing is left behind, and the caller is told which kind of
// failure it was. A partial capsule must never stay where the flash tool would find it.
struct WriteFailureCase {
  const char* name;
  void (*fault)();
  PayloadResult expected;
};

std::ostream& operator<<(std::ostream& os, const WriteFailureCase& c) { return os << c.name; }

class PayloadWriterFailure : public SimTest, public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(PayloadWriterFailure, LeavesNoFileBehind) {
  const WriteFailureCase& c = GetParam();
  machine().files.AddFolder(kWorkingFolder);
  c.fault();
  EXPECT_EQ(app::WritePayload(kCapsuleId, kCapsulePath), c.expected);
  EXPECT_FALSE(machine().files.FileExists(kCapsulePath));
  EXPECT_EQ(machine().OpenHandles("file"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PayloadWriterFailure,
    ::testing::Values(
        WriteFailureCase{"MissingResource", [] { sim::TheMachine().resources.Remove("FILE", kCapsuleId); }, PayloadResult::NotWritten},
        WriteFailureCase{"EmptyResource", [] { sim::TheMachine().resources.Set("FILE", kCapsuleId, ""); }, PayloadResult::NotWritten},
        WriteFailureCase{"ResourceNotLoaded", [] { sim::TheMachine().FailCall("LoadResource"); }, PayloadResult::NotWritten},
        WriteFailureCase{"CreateFails", [] { sim::TheMachine().FailCall("CreateFileA"); }, PayloadResult::WriteFailed},
        WriteFailureCase{"DiskFullMidWrite", [] { sim::TheMachine().FailCall("WriteFile"); }, PayloadResult::WriteFailed},
        // A write that reports success for fewer bytes than asked.
        WriteFailureCase{"ShortWrite", [] { sim::TheMachine().FailCall("WriteFile", {.error = 0, .partial = 3}); },
                         PayloadResult::WriteFailed},
        WriteFailureCase{"CloseFails", [] { sim::TheMachine().FailCall("CloseHandle"); }, PayloadResult::WriteFailed}),
    kByName);

TEST_F(WorkingFolderTest, MissingFolderIsAWriteFailureNotAnEscape) {
  machine().FailCall("CreateDirectoryA");
  std::string capsuleName;
  EXPECT_EQ(app::ExtractCapsule(capsuleName), PayloadResult::WriteFailed);
  EXPECT_EQ(capsuleName, "47K31RB4.cap");
  EXPECT_FALSE(machine().files.FolderExists(kWorkingFolder));
}

// The payloads an earlier run left go, tool first, then capsule, then the folder; a foreign file
// stays, and so does its folder.
TEST_F(WorkingFolderTest, CleanUpRemovesPayloadsAndFolderButLeavesAForeignFile) {
  const std::string foreign = std::string(kWorkingFolder) + "\\notes.txt";
  OnFreshMachines({false, true}, [&](bool foreignFile) {
    LeaveEarlierRun();
    if (foreignFile) machine().files.AddFile(foreign, "mine");
    app::CleanUpWorkingFolder();
    EXPECT_FALSE(machine().files.FileExists(kFlashToolPath));
    EXPECT_FALSE(machine().files.FileExists(kCapsulePath));
    EXPECT_EQ(machine().files.FolderExists(kWorkingFolder), foreignFile);
    if (foreignFile) {
      EXPECT_EQ(machine().files.FileAt(foreign)->bytes, "mine");
    }
    const int tool = machine().IndexOfCall("DeleteFileA");
    const int capsule = machine().IndexOfCall("DeleteFileA", tool + 1);
    EXPECT_EQ(machine().Calls()[tool].Text(), kFlashToolPath);
    EXPECT_EQ(machine().Calls()[capsule].Text(), kCapsulePath);
    EXPECT_GT(machine().IndexOfCall("RemoveDirectoryA"), capsule);
  });
}

TEST_F(WorkingFolderTest, CleanUpWithNothingThereChangesNothing) {
  const auto before = machine().files.Paths();
  app::CleanUpWorkingFolder();
  EXPECT_EQ(machine().files.Paths(), before);
}

TEST_F(WorkingFolderTest, CleanUpGoesOnPastAnUndeletablePayload) {
  LeaveEarlierRun();
  machine().files.AddFile(kFlashToolPath, "running", /*locked=*/true);
  app::CleanUpWorkingFolder();
  EXPECT_TRUE(machine().files.FileExists(kFlashToolPath));
  EXPECT_FALSE(machine().files.FileExists(kCapsulePath));
  EXPECT_TRUE(machine().files.FolderExists(kWorkingFolder));
}

}  // namespace
