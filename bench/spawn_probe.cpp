// spawn_probe.exe: starts one program the way the updater starts its flash tool, and says when.
//
// Usage: spawn_probe TOOL_PATH WORKING_DIR COMMAND_LINE
//
// CreateProcessA with TOOL_PATH as the application name, COMMAND_LINE as the command line, a
// new console and WORKING_DIR as the tool's folder, as the updater does; then it waits for
// the tool to end. It prints  calledms=T  with T the moment just before CreateProcessA, in ms
// since 1970 (the clock the stand-in flash tool logs its start with): the tool's logged start
// minus T is how long Wine takes to get such a program to its main().
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNotStarted = 3;
constexpr int kArgumentCount = 4;  // the program's own name and three arguments

std::uint64_t UnixMilliseconds() {
  constexpr std::uint64_t kTicksPerMs = 10000;                  // FILETIME counts 100 ns
  constexpr std::uint64_t kEpochDifferenceMs = 11644473600000;  // 1601-01-01 to 1970-01-01
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / kTicksPerMs - kEpochDifferenceMs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != kArgumentCount) {
    std::fprintf(stderr, "usage: spawn_probe TOOL_PATH WORKING_DIR COMMAND_LINE\n");
    return kExitUsage;
  }
  std::string commandLine = argv[3];
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  const std::uint64_t calledMs = UnixMilliseconds();
  if (CreateProcessA(argv[1], commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, argv[2],
                     &startup, &started) == FALSE) {
    std::fprintf(stderr, "spawn_probe: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return kExitNotStarted;
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  std::printf("calledms=%llu\n", static_cast<unsigned long long>(calledMs));
  return kExitOk;
}
