#include "guards/bitlocker.h"

#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>

#include "guards/companion.h"
#include "platform/handle.h"
#include "platform/services.h"

namespace guards {
namespace {

constexpr const char* kSystemFolderOf32Bit = "Sysnative";  // the 64-bit System32, seen from WoW64
constexpr const char* kSystemFolderOf64Bit = "System32";
constexpr const char* kStatusTemplate = "\"%s\" -status %s -ProtectionAsErrorLevel";
// One restart, never 0: a count of 0 leaves protection off until someone resumes it.
constexpr const char* kSuspendTemplate = "\"%s\" -protectors -disable %s -RebootCount 1";
constexpr const char* kResumeTemplate = "\"%s\" -protectors -enable %s";
// -ProtectionAsErrorLevel: 0 when the volume is protected, 1 when it is not.
constexpr win::DWORD kProtected = 0;
constexpr win::DWORD kNotProtected = 1;
constexpr win::DWORD kCommandSucceeded = 0;
// manage-bde writes only to its console, which nobody reads: it gets none.
constexpr win::DWORD kManageBdeFlags = win::CREATE_NO_WINDOW;
constexpr std::size_t kDriveLength = 2;  // "C:"

BitLockerCommands g_commands{};
bool g_suspensionTried = false;
// Published while a crash should resume protection.
std::atomic<BitLockerCommands*> g_crashResume = nullptr;

template <std::size_t N>
bool Format(char (&buffer)[N], const char* format, const char* path, const char* drive) {
  const int length = std::snprintf(buffer, N, format, path, drive);
  return length > 0 && static_cast<std::size_t>(length) < N;
}

std::optional<std::string> WindowsFolder() {
  std::array<char, win::MAX_PATH> folder{};
  const win::UINT length = win::GetWindowsDirectoryA(folder.data(), static_cast<win::UINT>(folder.size()));
  if (length == 0 || length >= folder.size()) return std::nullopt;
  return std::string(folder.data(), length);
}

std::optional<win::DWORD> Run(char* line, win::DWORD* startError = nullptr) {
  return RunProgram(g_commands.manageBde, line, g_commands.windowsFolder, kManageBdeFlags, startError);
}

bool IsMissing(win::DWORD error) { return error == win::ERROR_FILE_NOT_FOUND || error == win::ERROR_PATH_NOT_FOUND; }

}  // namespace

std::optional<BitLockerCommands> BitLockerCommandsFor(const std::string& windowsFolder, bool process64Bit) {
  if (windowsFolder.size() < kDriveLength + 1 || std::isalpha(static_cast<unsigned char>(windowsFolder[0])) == 0 ||
      windowsFolder[1] != ':' || windowsFolder[2] != '\\') {
    return std::nullopt;
  }
  const std::string drive = windowsFolder.substr(0, kDriveLength);
  std::string folder = windowsFolder;
  if (folder.back() == '\\') folder.pop_back();
  const std::string manageBde = folder + "\\" + (process64Bit ? kSystemFolderOf64Bit : kSystemFolderOf32Bit) + "\\" +
                                kManageBdeFileName;
  BitLockerCommands commands{};
  if (manageBde.size() >= sizeof(commands.manageBde) || windowsFolder.size() >= sizeof(commands.windowsFolder)) {
    return std::nullopt;
  }
  manageBde.copy(commands.manageBde, manageBde.size());
  windowsFolder.copy(commands.windowsFolder, windowsFolder.size());
  if (!Format(commands.status, kStatusTemplate, commands.manageBde, drive.c_str()) ||
      !Format(commands.suspend, kSuspendTemplate, commands.manageBde, drive.c_str()) ||
      !Format(commands.resume, kResumeTemplate, commands.manageBde, drive.c_str())) {
    return std::nullopt;
  }
  return commands;
}

BitLockerStep SuspendBitLockerForOneRestart() {
  g_suspensionTried = false;
  g_crashResume = nullptr;
  const std::optional<std::string> windowsFolder = WindowsFolder();
  const std::optional<BitLockerCommands> commands =
      windowsFolder ? BitLockerCommandsFor(*windowsFolder, win::kIs64BitProcess) : std::nullopt;
  // Without the system's drive nothing can be asked, and nothing said about its protection.
  if (!commands) return BitLockerStep::Failed;
  g_commands = *commands;

  win::DWORD startError = 0;
  const std::optional<win::DWORD> status = Run(g_commands.status, &startError);
  if (!status) return IsMissing(startError) ? BitLockerStep::NotProtected : BitLockerStep::Failed;
  // Any other answer than "protected" (an error of manage-bde's own, say) counts as not
  // protected, as the volume then has no protection that a restart could trip.
  if (*status != kProtected) return BitLockerStep::NotProtected;

  g_suspensionTried = true;
  g_crashResume = &g_commands;
  if (Run(g_commands.suspend) != kCommandSucceeded) return BitLockerStep::Failed;
  if (Run(g_commands.status) != kNotProtected) return BitLockerStep::Failed;
  return BitLockerStep::Suspended;
}

void ResumeBitLockerIfSuspended() {
  if (!g_suspensionTried) return;
  g_crashResume = nullptr;
  g_suspensionTried = false;
  Run(g_commands.resume);
}

void KeepBitLockerSuspended() { g_crashResume = nullptr; }

void ResumeBitLockerAfterCrash() {
  BitLockerCommands* commands = g_crashResume.exchange(nullptr);
  if (commands == nullptr) return;
  win::PROCESS_INFORMATION started;
  if (win::CreateProcessA(commands->manageBde, commands->resume, nullptr, nullptr, win::FALSE, kManageBdeFlags, nullptr,
                          commands->windowsFolder, &started) == win::FALSE) {
    return;
  }
  win::UniqueKernelHandle process(started.hProcess);
  win::UniqueKernelHandle thread(started.hThread);
}

}  // namespace guards
