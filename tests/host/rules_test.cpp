// The pure rules: the version verdict, the flash command line, the mark's geometry and the
// picture's place on the screen.
#include <gtest/gtest.h>

#include <string>

#include "ui/painting.h"
#include "update/flash_run.h"
#include "update/version_verdict.h"

namespace {

using update::Verdict;

struct VerdictRow {
  const char* running;  // upper-cased, as the worker passes it
  Verdict verdict;
};

TEST(VersionVerdict, WorkedExamplesAgainstTheCarriedCapsule) {
  const VerdictRow rows[] = {
      {"47K31RA9", Verdict::Update},     {"47K31RB4", Verdict::Same},
      {"47K31RC1", Verdict::Newer},      {"47K31R9Z", Verdict::Update},
      {"47K31RB", Verdict::Update},      {"47K31FB4", Verdict::WrongModel},
      {"47K32RB4", Verdict::WrongModel}, {"", Verdict::WrongModel},
      {"47K3", Verdict::WrongModel},     {"47K31", Verdict::WrongModel},
      {"47K31R", Verdict::WrongModel},   {"47K31F", Verdict::WrongModel},
      {"47K31RB4X", Verdict::Same},      {"47K31R\xB0\xA1", Verdict::Update},  // a Hangul revision counts as negative
  };
  for (const VerdictRow& row : rows) {
    EXPECT_EQ(update::DecideVersion("47K31RB4.CAP", "47K31RB4.CAP", row.running).verdict, row.verdict)
        << "running " << row.running;
  }
}

TEST(VersionVerdict, PrefixIsTheFirstSixCharacters) {
  EXPECT_EQ(update::DecideVersion("47K31RB4.CAP", "47K31RB4.CAP", "47K31RA9").versionPrefix, "47K31R");
  EXPECT_EQ(update::DecideVersion("47K31RB4.CAP", "47K31RB4.CAP", "47K").versionPrefix, "47K");
}

TEST(VersionVerdict, ModelRuleUsesTheFoundNameAndVersionRuleTheWindowsName) {
  // Found on disk under another model's name: refused whatever the revision.
  EXPECT_EQ(update::DecideVersion("48K31RB4.CAP", "47K31RB4.CAP", "47K31RA9").verdict, Verdict::WrongModel);
  // The window's name decides the revision.
  EXPECT_EQ(update::DecideVersion("47K31RB4.CAP", "47K31RZ9.CAP", "47K31RC1").verdict, Verdict::Update);
  EXPECT_EQ(update::RevisionValue("47K31RB4.CAP"), 6652);
  EXPECT_EQ(update::RevisionValue("47K31RB"), 6600);
}

TEST(FlashCommandLine, IsTheFixedLineAndRefusesWhatWouldNotFit) {
  EXPECT_EQ(update::FlashCommandLine("C:\\Program Files\\BIOSUPDATE", "47K31RB4.cap"),
            "C:\\Program Files\\BIOSUPDATE\\WinFlash64.exe /cvar /bbl /sd /file 47K31RB4.cap /nodelay");
  EXPECT_EQ(update::FlashCommandLine(std::string(197, 'F'), "47K31RB4.cap").size(), 255u);
  EXPECT_EQ(update::FlashCommandLine(std::string(198, 'F'), "47K31RB4.cap").size(), 256u);
}

struct MarkRow {
  int counter;
  int destinationX;
  int width;
  int sourceX;
};

TEST(MarkGeometry, EveryCounterAsTheTableHasIt) {
  const MarkRow rows[] = {{0, 255, 0, 0},    {1, 259, 4, 18},  {2, 263, 8, 14},  {3, 267, 12, 10},
                          {4, 271, 16, 6},   {5, 275, 20, 2},  {6, 279, 22, 0},  {26, 359, 20, 0},
                          {27, 363, 16, 0},  {28, 367, 12, 0}, {29, 371, 8, 0},  {30, 375, 4, 0},
                          {31, 379, 0, 0}};
  for (const MarkRow& row : rows) {
    const ui::MarkPlacement p = ui::MarkGeometry(row.counter);
    EXPECT_EQ(p.width, row.width) << row.counter;
    if (row.width > 0) {
      EXPECT_EQ(p.destinationX, row.destinationX) << row.counter;
      EXPECT_EQ(p.sourceX, row.sourceX) << row.counter;
    }
  }
  for (int c = 7; c <= 25; ++c) {
    const ui::MarkPlacement p = ui::MarkGeometry(c);
    EXPECT_EQ(p.destinationX, 255 + 4 * c);
    EXPECT_EQ(p.width, 22);
    EXPECT_EQ(p.sourceX, 0);
  }
  // Never outside the track's inside, x 257 to 378.
  for (int c = 1; c < 32; ++c) {
    const ui::MarkPlacement p = ui::MarkGeometry(c);
    if (p.width == 0) continue;
    EXPECT_GE(p.destinationX, 257);
    EXPECT_LE(p.destinationX + p.width - 1, 378) << c;
  }
}

TEST(PictureOrigin, CentredWithTheOddColumnAndRowOnTheRightAndBottom) {
  EXPECT_EQ(ui::PictureOriginFor(640, 480).x, 0);
  EXPECT_EQ(ui::PictureOriginFor(640, 480).y, 0);
  EXPECT_EQ(ui::PictureOriginFor(1024, 768).x, 192);
  EXPECT_EQ(ui::PictureOriginFor(1024, 768).y, 144);
  EXPECT_EQ(ui::PictureOriginFor(1023, 767).x, 191);
  EXPECT_EQ(ui::PictureOriginFor(1023, 767).y, 143);
}

}  // namespace
