// Outside programs driven by fixed command lines: the maker's hot-key utility, stopped for the
// update and started again after it, and the restart after a flash.
#pragma once

#include <optional>
#include <string>

namespace guards {

inline constexpr const char* kCompanionStopCommand = "taskkill /F /IM Brindle.exe";
inline constexpr const char* kCompanionPaths[] = {
    "C:\\Program Files\\Norvik Software\\Quilden\\Brindle.exe",
    "C:\\Program Files (x86)\\Norvik Software\\Quilden\\Brindle.exe",
};
inline constexpr const char* kRestartCommand = "shutdown -r -f";

// The command interpreter's line for one command: "<interpreter>" /c <command>.
std::string InterpreterCommandLine(const std::string& interpreter, const std::string& command);

// Runs one command line through the command interpreter and waits until it has ended; false
// when no interpreter could be started. The interpreter is always cmd.exe of the system folder
// (for a 32-bit process on 64-bit Windows, its 32-bit counterpart), named by its full path,
// whatever the environment says; and the command runs in the system folder, so that a taskkill.exe or shutdown.exe lying in the
// folder the program was started from cannot answer to the command's name.
bool RunCommand(const std::string& command);

void StopCompanion();
// Tries both fixed paths, in order, whatever the first attempt gave.
void RelaunchCompanion();
// Writes the debugger line and runs the restart command.
void RestartComputer();

}  // namespace guards
