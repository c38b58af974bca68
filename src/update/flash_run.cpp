#include "update/flash_run.h"

#include <array>
#include <cstdio>

#include "guards/crash_guard.h"
#include "platform/handle.h"
#include "platform/services.h"

namespace update {
namespace {

// The tool gets a console window of its own.
constexpr win::DWORD kCreationFlags = win::CREATE_NEW_CONSOLE;

std::string CurrentDirectory() {
  std::array<char, win::MAX_PATH> folder{};
  const win::DWORD length = win::GetCurrentDirectoryA(static_cast<win::DWORD>(folder.size()), folder.data());
  if (length == 0 || length >= folder.size()) return {};
  return std::string(folder.data(), length);
}

}  // namespace

std::string FlashCommandLine(const std::string& workingFolder, const std::string& capsuleName) {
  const int length = std::snprintf(nullptr, 0, kFlashCommandTemplate, workingFolder.c_str(), capsuleName.c_str());
  std::string line(static_cast<std::size_t>(length), '\0');
  std::snprintf(line.data(), line.size() + 1, kFlashCommandTemplate, workingFolder.c_str(), capsuleName.c_str());
  return line;
}

bool RunFlashTool(const std::string& commandLine, const std::string& workingDirectory,
                  const std::string& toolPath) {
  // A cut command line could name another program or another file; better not to run.
  if (commandLine.size() > kMaxFlashCommandLength) return false;
  std::array<char, kMaxFlashCommandLength + 1> command{};
  commandLine.copy(command.data(), commandLine.size());

  // The tool runs in the working folder, and so does the whole process while it runs. The
  // previous directory is put back afterwards: a folder that is a process's current directory
  // cannot be removed, and the finish removes the working folder.
  // When the previous directory cannot be read it could not be put back either; the tool
  // still gets the working folder as its own directory below.
  const std::string previous = CurrentDirectory();
  if (!previous.empty()) win::SetCurrentDirectoryA(workingDirectory.c_str());

  // The tool's full path as the application name: with none, Windows would try "C:\Program.exe"
  // and the other blank-separated beginnings of the unquoted command line first.
  // The tool inherits the updater's error mode, which shows no crash box: should the tool crash,
  // it ends at once instead of waiting in a box under the locked, top-most screen.
  win::PROCESS_INFORMATION started;
  const bool created = win::CreateProcessA(toolPath.c_str(), command.data(), nullptr, nullptr, win::FALSE,
                                           kCreationFlags, nullptr, workingDirectory.c_str(), &started) != win::FALSE;
  if (created) {
    win::UniqueKernelHandle process(started.hProcess);
    win::UniqueKernelHandle thread(started.hThread);
    // A crash of the updater meanwhile waits for the tool's end before it unlocks anything.
    guards::PublishFlashTool(process.Get());
    win::WaitForSingleObject(process.Get(), win::INFINITE);
    if (!guards::WithdrawFlashTool()) {
      // A crash has taken the handle and ends the process now: nothing more of the run.
      static_cast<void>(process.Release());
      guards::AwaitCrashEnd();
    }
  }
  if (!previous.empty() && win::SetCurrentDirectoryA(previous.c_str()) == win::FALSE) {
    // The previous folder is gone (a removed stick, say): any folder but the working one will
    // do, and the system folder is always there.
    std::array<char, win::MAX_PATH> system{};
    const win::UINT length = win::GetSystemDirectoryA(system.data(), static_cast<win::UINT>(system.size()));
    if (length > 0 && length < system.size()) win::SetCurrentDirectoryA(system.data());
  }
  return created;
}

}  // namespace update
