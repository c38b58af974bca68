// The version verdict: the model rule and the version rule on their own.
#include <gtest/gtest.h>

#include <string>

#include "update/version_verdict.h"

namespace {

using update::Verdict;

TEST(VersionVerdict, WorkedExamplesAgainstTheCarriedCapsule) {
  const struct {
    const char* running;  // upper-cased, as the worker passes it
    Verdict verdict;
  } rows[] = {
      {"47K31RA9", Verdict::Update},     {"47K31RB4", Verdict::Same},
      {"47K31RC1", Verdict::Newer},      {"47K31R9Z", Verdict::Update},
      {"47K31RB", Verdict::Update},      {"47K31FB4", Verdict::WrongModel},
      {"47K32RB4", Verdict::WrongModel}, {"", Verdict::WrongModel},
      {"47K3", Verdict::WrongModel},     {"47K31", Verdict::WrongModel},
      {"47K31R", Verdict::WrongModel},   {"47K31F", Verdict::WrongModel},
      {"47K31RB4X", Verdict::Same},      {"47K31R\xB0\xA1", Verdict::Update},  // a Hangul revision counts as negative
  };
  for (const auto& row : rows) {
    EXPECT_EQ(update::DecideVersion("47K31RB4.CAP", "47K31RB4.CAP", row.running).verdict, row.verdict)
        << "running " << row.running;
  }
}

TEST(VersionVerdict, ModelRuleUsesTheFoundNameAndVersionRuleTheWindowsName) {
  // Found on disk under another model's name: refused whatever the revision.
  EXPECT_EQ(update::DecideVersion("48K31RB4.CAP", "47K31RB4.CAP", "47K31RA9").verdict, Verdict::WrongModel);
  // The window's name decides the revision.
  EXPECT_EQ(update::DecideVersion("47K31RB4.CAP", "47K31RZ9.CAP", "47K31RC1").verdict, Verdict::Update);
  EXPECT_EQ(update::RevisionValue("47K31RB4.CAP"), 6652);
  EXPECT_EQ(update::RevisionValue("47K31RB"), 6600);
}

}  // namespace
