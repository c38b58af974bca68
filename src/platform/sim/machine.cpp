#include "platform/sim/machine.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace sim {
namespace {

constexpr win::LANGID kEnglishUs = 0x0409;
constexpr win::LANGID kKorean = 0x0412;
constexpr win::UINT kWesternCodePage = 1252;
constexpr win::UINT kKoreanCodePage = 949;
const char* const kDefaultProgramFiles = "C:\\Program Files (x86)";
const char* const kDefaultModulePath = "C:\\Users\\User\\Downloads\\BIOSUpdate.exe";

// Never destroyed: the program's static objects (the application object and its handles)
// talk to the machine while they are destroyed at exit, after any static of this file.
std::unique_ptr<Machine>& Instance() {
  static auto* machine = new std::unique_ptr<Machine>(std::make_unique<Machine>());
  return *machine;
}

}  // namespace

Machine::Machine()
    : languageId(kEnglishUs),
      localeId(kEnglishUs),
      codePage(kWesternCodePage),
      modulePath(kDefaultModulePath),
      programFilesFolder(kDefaultProgramFiles),
      processes(files),
      bitLocker(processes),
      scheduler_(std::make_unique<Scheduler>()) {}

Machine& TheMachine() { return *Instance(); }

void ResetMachine() { Instance() = std::make_unique<Machine>(); }

void Machine::SetKorean() {
  languageId = kKorean;
  localeId = kKorean;
  codePage = kKoreanCodePage;
}

std::uint64_t Machine::Now() const { return scheduler_->Now(); }

int Machine::CurrentThread() const { return scheduler_->Current(); }

void Machine::Log(std::string name, std::vector<Arg> args, Kind kind) {
  calls_.push_back({std::move(name), std::move(args), kind, CurrentThread(), Now()});
  if (kind == Kind::Call && plannedCrash_ && plannedCrash_->thread == CurrentThread() && Now() >= plannedCrash_->atMs) {
    const win::DWORD code = plannedCrash_->code;
    plannedCrash_.reset();
    CrashCurrentThread(code);
  }
}

std::optional<Failure> Machine::Consult(std::string_view api) {
  if (const auto slow = slowCalls_.find(api); slow != slowCalls_.end()) scheduler().WaitUntil(Now() + slow->second);
  return failures_.Consult(api);
}

int Machine::IndexOfCall(std::string_view name, std::size_t from) const {
  for (std::size_t i = from; i < calls_.size(); ++i) {
    if (calls_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int Machine::CountCalls(std::string_view name) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const CallRecord& c) { return c.name == name; }));
}

const CallRecord& Machine::FirstCall(std::string_view name) const {
  const int at = IndexOfCall(name);
  if (at < 0) throw std::logic_error("no call of " + std::string(name) + " was recorded");
  return calls_[static_cast<std::size_t>(at)];
}

void Machine::SetLastError(win::DWORD error) { lastError_[CurrentThread()] = error; }

win::DWORD Machine::LastError() const {
  const auto it = lastError_.find(CurrentThread());
  return it == lastError_.end() ? 0 : it->second;
}

// ----- handles and mutexes -----

win::HANDLE Machine::NewHandle(std::string kind, std::string target) {
  const std::uintptr_t value = nextHandle_;
  nextHandle_ += sizeof(void*);
  handles_[value] = {std::move(kind), std::move(target)};
  return reinterpret_cast<win::HANDLE>(value);
}

bool Machine::CloseHandleOf(win::HANDLE handle) {
  return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

std::string Machine::HandleKind(const void* handle) const {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? std::string() : it->second.kind;
}

std::string Machine::HandleTarget(const void* handle) const {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? std::string() : it->second.target;
}

void Machine::SetHandleTarget(const void* handle, std::string target) {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it != handles_.end()) it->second.target = std::move(target);
}

int Machine::OpenHandles(std::string_view kind) const {
  return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                        [&](const auto& h) { return h.second.kind == kind; }));
}

bool Machine::CreateMutex(const std::string& name) {
  if (mutexesOfOtherProcesses.count(name) != 0 || ownMutexes_.count(name) != 0) return false;
  ownMutexes_.insert(name);
  return true;
}

// ----- processes -----

void Machine::BeginProcess() {
  scheduler_ = std::make_unique<Scheduler>(scheduler_->Now());
  lastError_.clear();
  errorMode = 0;
  topLevelFilter = nullptr;
  crtFailureHandler = nullptr;
}

void Machine::CrashCurrentThread(win::DWORD exceptionCode) {
  Log("Crash", {exceptionCode, errorMode}, Kind::Event);
  win::EXCEPTION_RECORD record{exceptionCode};
  win::EXCEPTION_POINTERS pointers{&record, nullptr};
  if (topLevelFilter != nullptr) topLevelFilter(&pointers);
  if ((errorMode & win::SEM_NOGPFAULTERRORBOX) != 0) throw ProcessExit{static_cast<int>(exceptionCode)};
  Log("ErrorReportingBox", {}, Kind::Event);
  scheduler().WaitForWake(kNever);
}

void Machine::EndProcess() {
  scheduler_->EndProcess();
  // What the process still held, seen before the system releases it.
  power.EndProcess();
  // The system releases what a process held when it ends.
  ownMutexes_.clear();
  handles_.clear();
  threadOfHandle.clear();
  threadOfId.clear();
  events.clear();
  windows.EndProcess();
  hooks.EndProcess();
}

ProcessResult RunProcess(const std::string& arguments) {
  win::CWinApp* app = win::AfxGetApp();
  app->m_lpCmdLine = arguments.c_str();
  app->m_pMainWnd = nullptr;
  TheMachine().Log("ProcessStart", {arguments});
  const ProcessResult result = RunProcess([app] {
    win::RestrictDllSearch();
    app->InitInstance();
    return app->ExitInstance();
  });
  app->m_pMainWnd = nullptr;
  return result;
}

ProcessResult RunProcess(const std::function<int()>& body) {
  Machine& machine = TheMachine();
  machine.BeginProcess();
  const std::uint64_t start = machine.Now();
  ProcessResult result;
  try {
    result.exitCode = body();
  } catch (const ProcessExit& exit) {
    result.exitCode = exit.code;
    result.exitedThroughCrt = true;
  } catch (const Stalled&) {
    result.stalled = true;
  }
  result.endedAtMs = machine.Now() - start;
  machine.Log("ProcessEnd");
  machine.EndProcess();
  return result;
}

}  // namespace sim
