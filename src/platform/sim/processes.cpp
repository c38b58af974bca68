// Processes, programs, the environment and the command interpreter, and the seam calls that
// start and wait for them.
#include "platform/sim/processes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr const char* kInterpreterPath = "C:\\Windows\\System32\\cmd.exe";
constexpr const char* kTaskkillPath = "C:\\Windows\\System32\\taskkill.exe";
constexpr const char* kShutdownPath = "C:\\Windows\\System32\\shutdown.exe";
constexpr const char* kFlashToolName = "WINFLASH64.EXE";
constexpr const char* kExecutableExtension = ".exe";
constexpr int kTaskkillNothingFound = 128;
constexpr int kInterpreterCommandNotFound = 1;
constexpr const char* kAutoRunMachineKey = "HKLM\\Software\\Microsoft\\Command Processor";
constexpr const char* kAutoRunUserKey = "HKCU\\Software\\Microsoft\\Command Processor";
constexpr const char* kAutoRunValue = "AutoRun";

Machine& M() { return TheMachine(); }

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool HasExtension(const std::string& path) {
  return FileSystem::NameOf(path).find('.') != std::string::npos;
}

bool IsAbsolute(const std::string& path) { return path.size() > 1 && path[1] == ':'; }

}  // namespace

Processes::Processes(FileSystem& files) : files_(files) {
  // The system's commands exist in both widths; a 32-bit process starts those of SysWOW64.
  for (const char* path : {kInterpreterPath, kTaskkillPath, kShutdownPath}) {
    Install(path, Program{});
    Install(FileSystem::Wow64View(path, true), Program{});
  }
  flashTool.runMs = 0;
}

void Processes::Install(const std::string& path, Program program, std::string bytes) {
  files_.AddFolder(FileSystem::ParentOf(FileSystem::Normal(path)));
  files_.AddFile(path, std::move(bytes));
  programs_[FileSystem::Normal(path)] = std::move(program);
}

void Processes::InstallCompanion(const std::string& path) {
  std::string folder = FileSystem::ParentOf(FileSystem::Normal(path));
  // Its folders, as its installer left them.
  std::vector<std::string> chain;
  for (; !folder.empty() && !files_.FolderExists(folder); folder = FileSystem::ParentOf(folder)) {
    chain.push_back(folder);
  }
  for (const std::string& f : chain) files_.AddFolder(f);
  Program companion;
  companion.runsUntilKilled = true;
  Install(path, companion);
}

int Processes::StartByUser(const std::string& path) {
  int error = 0;
  return Start(path, path, files_.CurrentDirectory(), -1, &error).value_or(0);
}

std::vector<SimProcess> Processes::Started(const std::string& fileName) const {
  std::vector<SimProcess> started;
  for (const SimProcess& p : processes_) {
    if (Upper(FileSystem::NameOf(p.image)) == Upper(fileName)) started.push_back(p);
  }
  return started;
}

int Processes::RunningCount(const std::string& fileName) const {
  return static_cast<int>(std::count_if(processes_.begin(), processes_.end(), [&](const SimProcess& p) {
    return Running(p) && Upper(FileSystem::NameOf(p.image)) == Upper(fileName);
  }));
}

SimProcess* Processes::Find(int pid) {
  for (SimProcess& p : processes_) {
    if (p.pid == pid) return &p;
  }
  return nullptr;
}

bool Processes::Running(const SimProcess& process) const {
  return !process.killed && (process.endsAtMs == kNever || M().Now() < process.endsAtMs);
}

void Processes::Kill(SimProcess& process) {
  process.killed = true;
  process.endsAtMs = M().Now();
  M().Log("ProcessKilled", {FileSystem::NameOf(process.image), process.pid}, Kind::Event);
  for (int thread : waiters_[process.pid]) M().scheduler().Wake(thread);
  waiters_.erase(process.pid);
}

const Program* Processes::ProgramFor(const std::string& image) const {
  const auto it = programs_.find(FileSystem::Normal(image));
  if (it != programs_.end()) return &it->second;
  if (Upper(FileSystem::NameOf(image)) == kFlashToolName) return &flashTool;
  return nullptr;
}

std::optional<std::string> Processes::ResolveCommandLine(const std::string& commandLine,
                                                         const std::string& currentDirectory) const {
  const auto existing = [&](std::string candidate) -> std::optional<std::string> {
    if (!HasExtension(candidate)) candidate += kExecutableExtension;
    if (!IsAbsolute(candidate)) {
      for (const std::string& folder : {currentDirectory, std::string(kSystemFolder)}) {
        if (files_.FileExists(folder + "\\" + candidate)) return folder + "\\" + candidate;
      }
      return std::nullopt;
    }
    if (files_.FileExists(candidate)) return candidate;
    return std::nullopt;
  };
  if (!commandLine.empty() && commandLine.front() == '"') {
    const std::size_t close = commandLine.find('"', 1);
    return existing(commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  }
  for (std::size_t end = commandLine.find(' '); ; end = commandLine.find(' ', end + 1)) {
    if (auto found = existing(commandLine.substr(0, end))) return found;
    if (end == std::string::npos) return std::nullopt;
  }
}

std::optional<int> Processes::Start(const std::string& image, const std::string& commandLine,
                                    const std::string& currentDirectory, int parentPid, int* error) {
  const File* file = files_.FileAt(image);
  if (file == nullptr) {
    *error = static_cast<int>(win::ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  const Program* program = ProgramFor(image);
  Program ordinary;  // any other .exe starts and ends at once
  if (program == nullptr) {
    if (Upper(image).ends_with(Upper(kExecutableExtension)) == false) {
      *error = static_cast<int>(win::ERROR_BAD_EXE_FORMAT);
      return std::nullopt;
    }
    program = &ordinary;
  }
  SimProcess process;
  process.pid = nextPid_++;
  process.image = image;
  process.commandLine = commandLine;
  process.currentDirectory = currentDirectory;
  process.startedAtMs = M().Now();
  process.endsAtMs = program->runsUntilKilled ? kNever : M().Now() + program->runMs;
  process.exitCode = program->exitCode;
  process.parentPid = parentPid;
  if (program->crashes) {
    const bool noBox = parentPid == 0 && (M().errorMode & win::SEM_NOGPFAULTERRORBOX) != 0;
    process.endsAtMs = noBox ? M().Now() : kNever;
    process.exitCode = static_cast<int>(win::EXCEPTION_ACCESS_VIOLATION);
  }
  M().Log("ProcessStarted", {FileSystem::NameOf(image), commandLine, currentDirectory}, Kind::Event);
  processes_.push_back(process);
  SimProcess& started = processes_.back();
  const int pid = started.pid;
  const std::string name = Upper(FileSystem::NameOf(image));
  if (name == "CMD.EXE") {
    RunInterpreter(started);
  } else if (name == "TASKKILL.EXE") {
    RunTaskkill(started);
  } else if (name == "SHUTDOWN.EXE") {
    if (commandLine.find("-r") != std::string::npos) restarts_.push_back(M().Now());
  } else if (name == kFlashToolName) {
    const std::vector<std::string> words = Words(commandLine);
    const auto file_arg = std::find(words.begin(), words.end(), "/file");
    std::string capsule = file_arg != words.end() && file_arg + 1 != words.end() ? *(file_arg + 1) : "";
    const File* found = capsule.empty() ? nullptr : files_.FileAt(currentDirectory + "\\" + capsule);
    flashes_.push_back({commandLine, currentDirectory, found != nullptr,
                        found != nullptr ? found->bytes : std::string(), M().Now(), M().errorMode});
  }
  if (program->onStart) program->onStart(*Find(pid));
  return pid;
}

// cmd.exe /c COMMAND: the command's program is looked for in the interpreter's current
// directory first, then in the system folder; the interpreter ends when the command does.
// Unless /d comes before /c, the AutoRun commands of the machine and then of the user run
// first, as Windows' cmd.exe runs them.
void Processes::RunInterpreter(SimProcess& interpreter) {
  const int interpreterPid = interpreter.pid;
  const std::string line = interpreter.commandLine;
  const std::string directory = interpreter.currentDirectory;
  const std::string upper = Upper(line);
  const std::size_t switchAt = upper.find(" /C ");
  if (switchAt == std::string::npos) return;
  if (upper.substr(0, switchAt).find(" /D") == std::string::npos) {
    for (const char* key : {kAutoRunMachineKey, kAutoRunUserKey}) {
      const std::optional<RegistryValue> autoRun = M().registry.ValueOf(key, kAutoRunValue);
      const std::vector<std::string> autoRunWords = autoRun ? Words(autoRun->data.c_str()) : std::vector<std::string>{};
      if (autoRunWords.empty()) continue;
      if (const auto autoRunProgram = ResolveCommandLine(autoRunWords.front(), directory)) {
        Start(*autoRunProgram, autoRun->data.c_str(), directory, interpreterPid, nullptr);
      }
    }
  }
  const std::string command = line.substr(switchAt + 4);
  const std::vector<std::string> words = Words(command);
  if (words.empty()) return;
  const std::optional<std::string> program = ResolveCommandLine(words.front(), directory);
  if (!program) {
    Find(interpreterPid)->exitCode = kInterpreterCommandNotFound;
    return;
  }
  int error = 0;
  const std::optional<int> child = Start(*program, command, directory, interpreterPid, &error);
  SimProcess* self = Find(interpreterPid);
  if (!child) {
    self->exitCode = kInterpreterCommandNotFound;
    return;
  }
  const SimProcess* ran = Find(*child);
  self->endsAtMs = std::max(self->endsAtMs, ran->endsAtMs);
  self->exitCode = ran->exitCode;
}

void Processes::RunTaskkill(SimProcess& taskkill) {
  const int pid = taskkill.pid;
  const std::vector<std::string> words = Words(taskkill.commandLine);
  const auto im = std::find_if(words.begin(), words.end(), [](const std::string& w) { return Upper(w) == "/IM"; });
  int killed = 0;
  if (im != words.end() && im + 1 != words.end()) {
    const std::string target = Upper(*(im + 1));
    for (SimProcess& p : processes_) {
      if (p.pid != pid && Running(p) && Upper(FileSystem::NameOf(p.image)) == target) {
        Kill(p);
        ++killed;
      }
    }
  }
  Find(pid)->exitCode = killed > 0 ? 0 : kTaskkillNothingFound;
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }
sim::Processes& P() { return M().processes; }

DWORD ErrorOr(const sim::Failure& failure, DWORD usual) {
  return failure.error != 0 ? failure.error : usual;
}

int ProcessIdOf(HANDLE handle) {
  if (M().HandleKind(handle) != "process") return 0;
  return std::stoi(M().HandleTarget(handle));
}

// A folder query of the Get...DirectoryA kind: the length copied, or the size needed when the
// buffer is too small, or 0 on failure.
UINT CopyFolder(const char* name, const std::string& folder, char* buffer, UINT size) {
  M().Log(name);
  if (const auto failure = M().Consult(name)) {
    M().SetLastError(ErrorOr(*failure, ERROR_INSUFFICIENT_BUFFER));
    return 0;
  }
  if (folder.size() + 1 > size) return static_cast<UINT>(folder.size() + 1);
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<UINT>(folder.size());
}

}  // namespace

UINT GetSystemDirectoryA(char* buffer, UINT size) {
  return CopyFolder("GetSystemDirectoryA", sim::Processes::kSystemFolder, buffer, size);
}

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
  return CopyFolder("GetWindowsDirectoryA", sim::Processes::kWindowsFolder, buffer, size);
}

BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  M().Log("GetExitCodeProcess");
  if (const auto failure = M().Consult("GetExitCodeProcess")) {
    M().SetLastError(ErrorOr(*failure, ERROR_INVALID_HANDLE));
    return FALSE;
  }
  const int pid = ProcessIdOf(process);
  const sim::SimProcess* found = pid == 0 ? nullptr : P().Find(pid);
  if (found == nullptr) {
    M().SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = P().Running(*found) ? STILL_ACTIVE : static_cast<DWORD>(found->exitCode);
  return TRUE;
}

BOOL CreateProcessA(const char* applicationName, char* commandLine, void*, void*, BOOL inheritHandles,
                    DWORD creationFlags, void*, const char* currentDirectory,
                    PROCESS_INFORMATION* information) {
  M().Log("CreateProcessA", {applicationName, commandLine, inheritHandles, creationFlags, currentDirectory});
  if (const auto failure = M().Consult("CreateProcessA")) {
    M().SetLastError(ErrorOr(*failure, ERROR_ACCESS_DENIED));
    return FALSE;
  }
  const std::string directory =
      currentDirectory != nullptr ? std::string(currentDirectory) : M().files.CurrentDirectory();
  if (currentDirectory != nullptr && !M().files.FolderExists(directory)) {
    M().SetLastError(ERROR_PATH_NOT_FOUND);  // ERROR_DIRECTORY on Windows; the outcome is the same
    return FALSE;
  }
  std::optional<std::string> image;
  if (applicationName != nullptr) {
    const std::string seen = sim::FileSystem::Wow64View(applicationName, M().wow64Process);
    if (M().files.FileExists(seen)) image = seen;
  } else {
    image = P().ResolveCommandLine(commandLine, M().files.CurrentDirectory());
  }
  if (!image) {
    M().SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  int error = 0;
  const std::optional<int> pid = P().Start(*image, commandLine, directory, 0, &error);
  if (!pid) {
    M().SetLastError(static_cast<DWORD>(error));
    return FALSE;
  }
  information->hProcess = M().NewHandle("process", std::to_string(*pid));
  information->hThread = M().NewHandle("process thread", std::to_string(*pid));
  information->dwProcessId = static_cast<DWORD>(*pid);
  information->dwThreadId = static_cast<DWORD>(*pid + 1);
  return TRUE;
}

HINSTANCE ShellExecuteA(HWND, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
  M().Log("ShellExecuteA", {verb, file, parameters, directory, showCommand});
  constexpr std::uintptr_t kFileNotFound = 2;  // what ShellExecute returns for a missing file
  constexpr std::uintptr_t kStarted = 42;      // anything above 32 means success
  if (const auto failure = M().Consult("ShellExecuteA")) {
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(ErrorOr(*failure, kFileNotFound)));
  }
  int error = 0;
  if (!P().Start(file, file, M().files.CurrentDirectory(), 0, &error)) {
    return reinterpret_cast<HINSTANCE>(kFileNotFound);
  }
  return reinterpret_cast<HINSTANCE>(kStarted);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  M().Log("WaitForSingleObject", {M().HandleKind(handle), milliseconds});
  if (const auto failure = M().Consult("WaitForSingleObject")) {
    M().SetLastError(ErrorOr(*failure, ERROR_INVALID_PARAMETER));
    return WAIT_FAILED;
  }
  const std::uint64_t deadline = milliseconds == INFINITE ? sim::kNever : M().Now() + milliseconds;
  if (const auto thread = M().threadOfHandle.find(handle); thread != M().threadOfHandle.end()) {
    return M().scheduler().WaitForThreadEnd(thread->second, deadline) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }
  if (M().HandleKind(handle) == "event") {
    for (;;) {
      sim::Machine::Event& event = M().events[handle];
      if (event.set) return WAIT_OBJECT_0;
      if (M().Now() >= deadline) return WAIT_TIMEOUT;
      event.waiters.push_back(M().CurrentThread());
      M().scheduler().WaitForWake(deadline);
    }
  }
  const int pid = ProcessIdOf(handle);
  if (pid == 0) {
    M().SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const std::uint64_t limit = milliseconds == INFINITE ? sim::kNever : M().Now() + milliseconds;
  for (;;) {
    sim::SimProcess* process = P().Find(pid);
    if (!P().Running(*process)) return WAIT_OBJECT_0;
    if (M().Now() >= limit) return WAIT_TIMEOUT;
    if (process->endsAtMs == sim::kNever) {
      P().AddWaiter(pid, M().CurrentThread());
      M().scheduler().WaitForWake(limit);
    } else {
      M().scheduler().WaitUntil(std::min(process->endsAtMs, limit));
    }
  }
}

}  // namespace win
