#include "platform/sim/bitlocker.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr int kProtected = 0;
constexpr int kNotProtected = 1;
constexpr int kSucceeded = 0;
// What manage-bde ends with when it refuses: an HRESULT, E_INVALIDARG for a parameter it does
// not know, FVE_E_LOCKED_VOLUME and the like otherwise.
constexpr int kInvalidArgument = static_cast<int>(0x80070057u);
constexpr int kRefused = static_cast<int>(0x80310000u);
constexpr const char* kSystemDrive = "C:";

std::vector<std::string> LowerWords(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    words.push_back(word);
  }
  return words;
}

}  // namespace

BitLocker::BitLocker(Processes& processes) : processes_(processes) {
  Program manageBde;
  manageBde.onStart = [this](SimProcess& process) { process.exitCode = Answer(process.commandLine); };
  processes_.Install(kManageBdePath, std::move(manageBde));
}

void BitLocker::RemoveManageBde() { TheMachine().files.RemoveFile(kManageBdePath); }

int BitLocker::Answer(const std::string& commandLine) {
  std::vector<std::string> words = LowerWords(commandLine);
  if (!words.empty()) words.erase(words.begin());  // the program's own name
  const std::string drive = [] {
    std::string d = kSystemDrive;
    std::transform(d.begin(), d.end(), d.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return d;
  }();
  using Words = std::vector<std::string>;
  if (words == Words{"-status", drive, "-protectionaserrorlevel"}) {
    if (statusExitCode) return *statusExitCode;
    return protection == Protection::On ? kProtected : kNotProtected;
  }
  if (words.size() == 5 && words[0] == "-protectors" && words[1] == "-disable" && words[2] == drive &&
      words[3] == "-rebootcount") {
    if (!hasRebootCount) return kInvalidArgument;
    if (protection == Protection::Off || refusesSuspension) return kRefused;
    if (suspensionDoesNotHold) return kSucceeded;
    protection = Protection::Suspended;
    rebootCount = std::stoi(words[4]);
    return kSucceeded;
  }
  if (words == Words{"-protectors", "-enable", drive}) {
    if (protection == Protection::Off) return kRefused;
    protection = Protection::On;
    rebootCount = 0;
    return kSucceeded;
  }
  return kInvalidArgument;
}

}  // namespace sim
