// The simulated machine behind the seam, for the host tests.
//
// One object holds everything a run can touch, one service each (files, registry, windows
// and messages, processes, power, hooks, WMI), the scheduler that owns the virtual clock and
// the threads, the typed record of every call, and the failures a test has chosen. Tests set
// the machine up and read it through the services' named operations.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/bitlocker.h"
#include "platform/sim/files.h"
#include "platform/sim/gdi.h"
#include "platform/sim/hooks.h"
#include "platform/sim/power.h"
#include "platform/sim/processes.h"
#include "platform/sim/record.h"
#include "platform/sim/registry.h"
#include "platform/sim/resources.h"
#include "platform/sim/scheduler.h"
#include "platform/sim/windows.h"
#include "platform/sim/wmi.h"
#include "platform/win_types.h"

namespace sim {

// What the program would have seen of the machine: the defaults are an English 64-bit
// Windows with the program started from the downloads folder.
class Machine {
 public:
  Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // ----- settings a test chooses before a run -----
  win::LANGID languageId;
  win::LCID localeId;
  win::UINT codePage;  // the ANSI code page
  bool wow64Process = true;  // a 32-bit process on 64-bit Windows
  std::string modulePath;
  std::string programFilesFolder;
  std::set<std::string> mutexesOfOtherProcesses;
  void SetKorean();

  // ----- the services -----
  FileSystem files;
  Registry registry;
  Windows windows;
  Processes processes;
  BitLocker bitLocker;
  Power power;
  Hooks hooks;
  Wmi wmi;
  Resources resources;
  Gdi gdi;

  // ----- failures -----
  // Makes the chosen call fail; see Failure. Every failable seam call consults the plan.
  void FailCall(std::string api, Failure failure = {}) { failures_.FailCall(std::move(api), failure); }
  // Makes every call of that name take `ms` of virtual time, as a slow disk or a busy system
  // would: the calling thread waits before the call does its work.
  void SlowCall(std::string api, std::uint64_t ms) { slowCalls_[std::move(api)] = ms; }
  std::optional<Failure> Consult(std::string_view api);
  // Every failable call made so far, as (name, nth call of that name), for failure sweeps.
  const std::vector<std::pair<std::string, int>>& FailableCalls() const { return failures_.Consulted(); }

  // ----- the record -----
  const std::vector<CallRecord>& Calls() const { return calls_; }
  // Position of the first call of that name at or after `from`, or -1.
  int IndexOfCall(std::string_view name, std::size_t from = 0) const;
  int CountCalls(std::string_view name) const;
  // The first call of that name; a test error when there is none.
  const CallRecord& FirstCall(std::string_view name) const;
  std::vector<std::string> debugOutput;
  std::uint64_t Now() const;

  // ----- used by the simulated services -----
  void Log(std::string name, std::vector<Arg> args = {}, Kind kind = Kind::Call);
  void SetLastError(win::DWORD error);
  win::DWORD LastError() const;
  Scheduler& scheduler() { return *scheduler_; }
  int CurrentThread() const;

  // Kernel handles of every kind (mutex, file, search, thread, process, key): a handle is a
  // number with a kind and a target.
  win::HANDLE NewHandle(std::string kind, std::string target = {});
  bool CloseHandleOf(win::HANDLE handle);
  std::string HandleKind(const void* handle) const;
  std::string HandleTarget(const void* handle) const;
  void SetHandleTarget(const void* handle, std::string target);
  int OpenHandles(std::string_view kind) const;

  bool CreateMutex(const std::string& name);
  // Threads made suspended, started by ResumeThread.
  std::map<win::HANDLE, std::function<void()>> suspendedThreads;
  // The scheduler's thread behind a thread handle and behind a thread id, once it runs.
  std::map<win::HANDLE, int> threadOfHandle;
  std::map<win::DWORD, int> threadOfId;
  // Events (manual reset): whether set, and the threads waiting for them.
  struct Event {
    bool set = false;
    std::vector<int> waiters;
  };
  std::map<win::HANDLE, Event> events;

  void BeginProcess();
  void EndProcess();

  // ----- crashes -----
  // The process's error mode (SetErrorMode), 0 when it starts; children inherit it.
  win::UINT errorMode = 0;
  win::LPTOP_LEVEL_EXCEPTION_FILTER topLevelFilter = nullptr;
  void (*crtFailureHandler)() = nullptr;
  // The calling thread faults with an exception nothing catches: the top-level filter runs, and
  // unless it ends the process, Windows' error box opens and waits, with the process alive,
  // for an answer (none under SEM_NOGPFAULTERRORBOX: the process ends at once).
  void CrashCurrentThread(win::DWORD exceptionCode);
  // The first seam call that `thread` makes at or after `atMs` faults with that code, as a bug of
  // the program's own there would (the call is recorded, then the thread crashes).
  void CrashThreadAt(int thread, std::uint64_t atMs, win::DWORD exceptionCode) {
    plannedCrash_ = PlannedCrash{thread, atMs, exceptionCode};
  }

 private:
  struct PlannedCrash {
    int thread;
    std::uint64_t atMs;
    win::DWORD code;
  };
  std::optional<PlannedCrash> plannedCrash_;
  FailurePlan failures_;
  std::map<std::string, std::uint64_t, std::less<>> slowCalls_;
  std::vector<CallRecord> calls_;
  std::map<int, win::DWORD> lastError_;
  std::unique_ptr<Scheduler> scheduler_;
  std::uint64_t clockBase_ = 0;  // virtual time at which the current process began

  struct HandleRecord {
    std::string kind;
    std::string target;
  };
  std::map<std::uintptr_t, HandleRecord> handles_;
  std::uintptr_t nextHandle_ = 0x100;
  std::set<std::string> ownMutexes_;
};

Machine& TheMachine();
// A fresh machine with the default settings.
void ResetMachine();

struct ProcessResult {
  int exitCode = -1;
  bool exitedThroughCrt = false;
  bool stalled = false;
  std::uint64_t endedAtMs = 0;  // virtual time since the process began
};

// Runs the program once, as a new process with these command-line arguments.
ProcessResult RunProcess(const std::string& arguments);
// Runs `body` as the main thread of a new process, its result the exit code (for tests of the
// machine itself).
ProcessResult RunProcess(const std::function<int()>& body);

}  // namespace sim
