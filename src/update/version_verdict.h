// Whether the carried capsule may be flashed onto the running BIOS: the model rule and the
// version rule. A pure function of three texts, all already upper-cased by the caller.
#pragma once

#include <string>
#include <string_view>

namespace update {

enum class Verdict {
  WrongModel,  // not this model's BIOS, or no version to compare
  Newer,       // the running BIOS is newer than the capsule
  Same,        // the same revision
  Update,      // the capsule is newer: flash it
};

struct VerdictResult {
  Verdict verdict;
  std::string versionPrefix;  // the first six characters of the running version
};

// foundName: the capsule file's name as found on disk; capsuleName: the name the window
// holds; runningVersion: the running BIOS's version.
VerdictResult DecideVersion(std::string_view foundName, std::string_view capsuleName,
                            std::string_view runningVersion);

// 100 × the seventh character + the eighth, characters as signed bytes, a missing one 0.
int RevisionValue(std::string_view name);

}  // namespace update
