#include "guards/companion.h"

#include <array>
#include <vector>

#include "platform/handle.h"
#include "platform/services.h"
#include "ui/texts.h"

namespace guards {
namespace {

constexpr const char* kInterpreterFileName = "cmd.exe";
constexpr const char* kInterpreterSwitch = " /c ";
constexpr const char* kOpenVerb = "open";

std::optional<std::string> SystemFolder() {
  std::array<char, win::MAX_PATH> folder{};
  const win::UINT length = win::GetSystemDirectoryA(folder.data(), static_cast<win::UINT>(folder.size()));
  if (length == 0 || length >= folder.size()) return std::nullopt;
  return std::string(folder.data(), length);
}

// Starts the interpreter by its full path (no search), in the system folder, and waits.
bool RunInterpreter(const std::string& interpreter, const std::string& command, const std::string& systemFolder) {
  std::string line = InterpreterCommandLine(interpreter, command);
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  win::PROCESS_INFORMATION started;
  if (win::CreateProcessA(interpreter.c_str(), buffer.data(), nullptr, nullptr, win::FALSE, 0, nullptr,
                          systemFolder.c_str(), &started) == win::FALSE) {
    return false;
  }
  win::UniqueKernelHandle process(started.hProcess);
  win::UniqueKernelHandle thread(started.hThread);
  win::WaitForSingleObject(process.Get(), win::INFINITE);
  return true;
}

}  // namespace

std::string InterpreterCommandLine(const std::string& interpreter, const std::string& command) {
  return "\"" + interpreter + "\"" + kInterpreterSwitch + command;
}

// The environment is not asked which interpreter to use: any program of the user can set
// "COMSPEC" in the user's settings, and this program runs elevated.
bool RunCommand(const std::string& command) {
  const std::optional<std::string> systemFolder = SystemFolder();
  if (!systemFolder) return false;
  return RunInterpreter(*systemFolder + "\\" + kInterpreterFileName, command, *systemFolder);
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
