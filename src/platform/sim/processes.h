// Other processes on the simulated machine: the programs that can be started, the processes
// that run, the environment, the command interpreter and the system's commands.
//
// A program is a file plus what it does when started: how long it runs (or until killed), its
// exit code and an action at its start. The interpreter (cmd.exe /c ...) finds the command's
// program first in its own current directory and then in the system folder, as cmd.exe does;
// taskkill ends processes by image name; shutdown records a restart request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

struct SimProcess {
  int pid = 0;
  std::string image;        // full path of the program file
  std::string commandLine;  // as passed
  std::string currentDirectory;
  std::uint64_t startedAtMs = 0;
  std::uint64_t endsAtMs = 0;  // kNever: runs until killed
  int exitCode = 0;
  bool killed = false;
  int parentPid = 0;  // 0: started by the program under test
};

struct Program {
  std::uint64_t runMs = 0;
  bool runsUntilKilled = false;
  int exitCode = 0;
  // Faults at its start. Under an error mode with SEM_NOGPFAULTERRORBOX it ends at once with
  // the fault's code; otherwise Windows' error box keeps it alive until somebody answers, and
  // behind the locked screen nobody can.
  bool crashes = false;
  // Runs when the process starts; may change the machine and the exit code.
  std::function<void(SimProcess&)> onStart;
};

// What the stand-in flash tool saw when it ran.
struct FlashRecord {
  std::string commandLine;
  std::string currentDirectory;
  bool capsuleFound;     // the capsule named on the command line, in its current directory
  std::string capsuleBytes;
  std::uint64_t atMs;
  win::UINT errorMode;  // inherited from the program
};

class Processes {
 public:
  explicit Processes(class FileSystem& files);

  // ----- for tests -----
  // A program at that path (the file is created too).
  void Install(const std::string& path, Program program, std::string bytes = "MZ");
  // What every WinFlash64.exe does when run (it is written by the program itself).
  Program flashTool;
  // Installs the companion program at a path; running until killed.
  void InstallCompanion(const std::string& path);
  // Starts a process as if the user had, before the run.
  int StartByUser(const std::string& path);
  const std::vector<SimProcess>& All() const { return processes_; }
  std::vector<SimProcess> Started(const std::string& fileName) const;
  int RunningCount(const std::string& fileName) const;
  const std::vector<FlashRecord>& Flashes() const { return flashes_; }
  const std::vector<std::uint64_t>& RestartRequests() const { return restarts_; }
  static constexpr const char* kSystemFolder = "C:\\Windows\\System32";
  static constexpr const char* kWindowsFolder = "C:\\Windows";

  // ----- for the services -----
  // Starts the program in a file; nothing when the file is missing or is no program.
  std::optional<int> Start(const std::string& image, const std::string& commandLine,
                           const std::string& currentDirectory, int parentPid, int* error);
  // The program file that a command line without application name starts: the first
  // blank-separated beginning that names an existing file, ".exe" added where the name has
  // no extension, as Windows tries them.
  std::optional<std::string> ResolveCommandLine(const std::string& commandLine,
                                                const std::string& currentDirectory) const;
  SimProcess* Find(int pid);
  bool Running(const SimProcess& process) const;
  void Kill(SimProcess& process);

 private:
  const Program* ProgramFor(const std::string& image) const;
  void RunInterpreter(SimProcess& process);
  void RunTaskkill(SimProcess& process);

  std::map<std::string, Program> programs_;
  std::vector<SimProcess> processes_;
  std::vector<FlashRecord> flashes_;
  std::vector<std::uint64_t> restarts_;
  int nextPid_ = 1000;
  FileSystem& files_;
  std::map<int, std::vector<int>> waiters_;

 public:
  // A thread that waits for the process to end is woken when it is killed.
  void AddWaiter(int pid, int thread) { waiters_[pid].push_back(thread); }
};

}  // namespace sim
