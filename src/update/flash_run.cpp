#include "update/flash_run.h"

#include <array>
#include <cstdio>

#include "platform/handle.h"
#include "platform/services.h"

namespace update {
namespace {

// The tool gets a console window of its own.
constexpr win::DWORD kCreationFlags = win::CREATE_NEW_CONSOLE;
// The error mode the tool inherits: should it crash, it ends at once instead of waiting in an
// error box that would open under the locked, top-most screen where nobody can answer it.
constexpr win::UINT kToolErrorMode = win::SEM_FAILCRITICALERRORS | win::SEM_NOGPFAULTERRORBOX | win::SEM_NOOPENFILEERRORBOX;

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
  win::PROCESS_INFORMATION started;
  const win::UINT ownErrorMode = win::SetErrorMode(kToolErrorMode);
  const bool created = win::CreateProcessA(toolPath.c_str(), command.data(), nullptr, nullptr, win::FALSE,
                                           kCreationFlags, nullptr, workingDirectory.c_str(), &started) != win::FALSE;
  if (ownErrorMode != kToolErrorMode) win::SetErrorMode(ownErrorMode);
  if (created) {
    win::UniqueKernelHandle process(started.hProcess);
    win::UniqueKernelHandle thread(started.hThread);
    win::WaitForSingleObject(process.Get(), win::INFINITE);
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
