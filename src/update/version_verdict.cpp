#include "update/version_verdict.h"

namespace update {
namespace {

constexpr std::size_t kPrefixLength = 6;
constexpr std::size_t kModelLength = 5;      // the characters that name the model
constexpr std::size_t kRevisionAt = 6;       // the seventh character, counted from 0
constexpr char kForeignFamily = 'F';         // a sixth character F: another product line
constexpr int kRevisionWeight = 100;

int SignedByte(char c) { return static_cast<int>(static_cast<signed char>(c)); }

}  // namespace

int RevisionValue(std::string_view name) {
  const int seventh = name.size() > kRevisionAt ? SignedByte(name[kRevisionAt]) : 0;
  const int eighth = name.size() > kRevisionAt + 1 ? SignedByte(name[kRevisionAt + 1]) : 0;
  return kRevisionWeight * seventh + eighth;
}

VerdictResult DecideVersion(std::string_view foundName, std::string_view capsuleName,
                            std::string_view runningVersion) {
  VerdictResult result{Verdict::WrongModel, std::string(runningVersion.substr(0, kPrefixLength))};
  const std::string_view prefix(result.versionPrefix);

  const bool sameModel = prefix.size() >= kModelLength && foundName.size() >= kModelLength &&
                         prefix.substr(0, kModelLength) == foundName.substr(0, kModelLength);
  const bool foreignFamily = runningVersion.size() > kModelLength && runningVersion[kModelLength] == kForeignFamily;
  if (!sameModel || foreignFamily) return result;

  // A version of five or six characters passes the model rule but has no revision to compare:
  // it is refused, rather than read past its end.
  if (runningVersion.size() < kRevisionAt + 1 || capsuleName.size() < kRevisionAt + 1) return result;
  const int running = RevisionValue(runningVersion);
  const int capsule = RevisionValue(capsuleName);
  result.verdict = running > capsule ? Verdict::Newer : running == capsule ? Verdict::Same : Verdict::Update;
  return result;
}

}  // namespace update
