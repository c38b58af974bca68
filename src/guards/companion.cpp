#include "guards/companion.h"

#include <array>
#include <vector>

#include "platform/handle.h"
#include "platform/services.h"
#include "ui/texts.h"

namespace guards {
namespace {

constexpr const char* kInterpreterFileName = "cmd.exe";
// /d: no AutoRun command from the registry; the user's own (HKCU) would otherwise run with
// this process's elevation.
constexpr const char* kInterpreterSwitch = " /d /c ";
constexpr const char* kOpenVerb = "open";
// The interpreter gets the console Windows gives a console program started by a GUI program.
constexpr win::DWORD kInterpreterFlags = 0;

std::optional<std::string> SystemFolder() {
  std::array<char, win::MAX_PATH> folder{};
  const win::UINT length = win::GetSystemDirectoryA(folder.data(), static_cast<win::UINT>(folder.size()));
  if (length == 0 || length >= folder.size()) return std::nullopt;
  return std::string(folder.data(), length);
}

}  // namespace

std::optional<win::DWORD> RunProgram(const std::string& path, const std::string& commandLine,
                                     const std::string& directory, win::DWORD creationFlags, win::DWORD* startError) {
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  win::PROCESS_INFORMATION started;
  if (win::CreateProcessA(path.c_str(), buffer.data(), nullptr, nullptr, win::FALSE, creationFlags, nullptr,
                          directory.c_str(), &started) == win::FALSE) {
    if (startError != nullptr) *startError = win::GetLastError();
    return std::nullopt;
  }
  win::UniqueKernelHandle process(started.hProcess);
  win::UniqueKernelHandle thread(started.hThread);
  if (win::WaitForSingleObject(process.Get(), win::INFINITE) != win::WAIT_OBJECT_0) return std::nullopt;
  win::DWORD exitCode = 0;
  if (win::GetExitCodeProcess(process.Get(), &exitCode) == win::FALSE || exitCode == win::STILL_ACTIVE) {
    return std::nullopt;
  }
  return exitCode;
}

std::string InterpreterCommandLine(const std::string& interpreter, const std::string& command) {
  return "\"" + interpreter + "\"" + kInterpreterSwitch + command;
}

// The environment is not asked which interpreter to use: any program of the user can set
// "COMSPEC" in the user's settings, and this program runs elevated.
std::optional<win::DWORD> RunCommand(const std::string& command) {
  const std::optional<std::string> systemFolder = SystemFolder();
  if (!systemFolder) return std::nullopt;
  const std::string interpreter = *systemFolder + "\\" + kInterpreterFileName;
  return RunProgram(interpreter, InterpreterCommandLine(interpreter, command), *systemFolder, kInterpreterFlags);
}

void StopCompanion() { RunCommand(kCompanionStopCommand); }

void RelaunchCompanion() {
  constexpr win::HWND kNoOwner = nullptr;
  for (const char* path : kCompanionPaths) {
    win::ShellExecuteA(kNoOwner, kOpenVerb, path, nullptr, nullptr, win::SW_SHOW);
  }
}

void RestartComputer() {
  win::OutputDebugStringA(ui::DebugLine(ui::DebugLineId::BeforeShutdown));
  RunCommand(kRestartCommand);
}

}  // namespace guards
