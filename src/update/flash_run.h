// Running the vendor's flash tool on the capsule and waiting for its end.
#pragma once

#include <string>

namespace update {

inline constexpr const char* kFlashCommandTemplate = "%s\\WinFlash64.exe /cvar /bbl /sd /file %s /nodelay";
// The command buffer holds at most this many characters and the terminating NUL.
inline constexpr std::size_t kMaxFlashCommandLength = 255;

// The flash tool's command line for a working folder and the capsule's bare name.
std::string FlashCommandLine(const std::string& workingFolder, const std::string& capsuleName);

// Starts the tool at `toolPath` with the command line, the working directory as its current
// directory (and, while it runs, the process's), and waits for its end without limit. True
// when the process was created; its exit code says nothing here. A command line that does not
// fit the command buffer is not cut short: the tool is then not started at all.
bool RunFlashTool(const std::string& commandLine, const std::string& workingDirectory,
                  const std::string& toolPath);

}  // namespace update
