// Outside programs driven by fixed command lines: the maker's hot-key utility, stopped for the
// update and started again after it, and the restart after a flash.
#pragma once

#include <optional>
#include <string>

#include "platform/win_types.h"

namespace guards {

inline constexpr const char* kCompanionStopCommand = "taskkill /F /IM Brindle.exe";
inline constexpr const char* kCompanionPaths[] = {
    "C:\\Program Files\\Norvik Software\\Quilden\\Brindle.exe",
    "C:\\Program Files (x86)\\Norvik Software\\Quilden\\Brindle.exe",
};
inline constexpr const char* kRestartCommand = "shutdown -r -f";

// The command interpreter's line for one command: "<interpreter>" /d /c <command>.
std::string InterpreterCommandLine(const std::string& interpreter, const std::string& command);

// Starts the program at `path` (by that path alone, no search) with the command line, in
// `directory`, waits until it has ended and hands back its exit code; nothing when it could not
// be started (the system's reason in `startError`, when given) or its code could not be read.
std::optional<win::DWORD> RunProgram(const std::string& path, const std::string& commandLine,
                                     const std::string& directory, win::DWORD creationFlags,
                                     win::DWORD* startError = nullptr);

// Runs one command line through the command interpreter, waits until it has ended and hands
// back the interpreter's exit code (the command's); nothing when no interpreter could be started. The interpreter is always cmd.exe of the system folder
// (for a 32-bit process on 64-bit Windows, its 32-bit counterpart), named by its full path,
// whatever the environment says; and the command runs in the system folder, so that a taskkill.exe or shutdown.exe lying in the
// folder the program was started from cannot answer to the command's name.
std::optional<win::DWORD> RunCommand(const std::string& command);

void StopCompanion();
// Tries both fixed paths, in order, whatever the first attempt gave.
void RelaunchCompanion();
// Writes the debugger line and runs the restart command.
void RestartComputer();

}  // namespace guards
