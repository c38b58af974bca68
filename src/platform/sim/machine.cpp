#include "platform/sim/machine.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace sim {
namespace {

constexpr win::LANGID kEnglishUs = 0x0409;
constexpr win::DWORD kDialogStyle = 0x90000040;  // WS_POPUP | WS_VISIBLE | DS_SETFONT
constexpr win::UINT kControllerTemplate = 102;
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
      comSecurityResult(win::S_OK),
      programFilesFolder(kDefaultProgramFiles),
      modulePath(kDefaultModulePath) {
  dialogTemplates[kControllerTemplate] = {kDialogStyle, win::WS_EX_APPWINDOW};
  for (const char* folder : {"C:", "C:\\Windows", "C:\\Program Files", "C:\\Program Files (x86)",
                             "C:\\Users", "C:\\Users\\User", "C:\\Users\\User\\Downloads"}) {
    AddFolder(folder);
  }
}

Machine& TheMachine() { return *Instance(); }

void ResetMachine() { Instance() = std::make_unique<Machine>(); }

void Machine::FailCall(const std::string& name, int nth) { pendingFailures_[name] = nth; }

bool Machine::ShouldFail(const std::string& name) {
  const auto it = pendingFailures_.find(name);
  if (it == pendingFailures_.end()) return false;
  if (--it->second > 0) return false;
  pendingFailures_.erase(it);
  return true;
}

void Machine::Log(std::string name, std::string detail) {
  calls_.push_back({std::move(name), std::move(detail)});
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

std::string Machine::Normal(std::string_view path) {
  std::string normal(path);
  std::replace(normal.begin(), normal.end(), '/', '\\');
  while (normal.size() > 1 && normal.back() == '\\') normal.pop_back();
  std::transform(normal.begin(), normal.end(), normal.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return normal;
}

std::string Machine::ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// ----- registry -----

void Machine::SetRegistryValue(const std::string& key, const std::string& name, RegistryValue value) {
  registry_[Normal(key)][Normal(name)] = std::move(value);
}

std::optional<RegistryValue> Machine::RegistryValueOf(const std::string& key,
                                                      const std::string& name) const {
  const auto k = registry_.find(Normal(key));
  if (k == registry_.end()) return std::nullopt;
  const auto v = k->second.find(Normal(name));
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

// ----- files and folders -----

void Machine::AddFolder(const std::string& path) { folders_.insert(Normal(path)); }

void Machine::AddFile(const std::string& path, std::string bytes, bool locked) {
  const std::size_t slash = path.find_last_of("\\/");
  files_[Normal(path)] = File{slash == std::string::npos ? path : path.substr(slash + 1),
                              std::move(bytes), locked};
}

bool Machine::FolderExists(const std::string& path) const { return folders_.count(Normal(path)) != 0; }

bool Machine::FileExists(const std::string& path) const { return files_.count(Normal(path)) != 0; }

const File* Machine::FileAt(const std::string& path) const {
  const auto it = files_.find(Normal(path));
  return it == files_.end() ? nullptr : &it->second;
}

std::vector<std::string> Machine::FolderEntries(const std::string& folder) const {
  const std::string prefix = Normal(folder) + "\\";
  std::vector<std::string> entries;
  const auto direct = [&](const std::string& path) {
    return path.rfind(prefix, 0) == 0 && path.find('\\', prefix.size()) == std::string::npos;
  };
  for (const auto& [path, file] : files_) {
    if (direct(path)) entries.push_back(file.name);
  }
  for (const std::string& path : folders_) {
    if (direct(path)) entries.push_back(path.substr(prefix.size()));
  }
  return entries;
}

int Machine::OpenFileHandles() const {
  return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                        [](const auto& h) { return h.second.kind == "file"; }));
}

// ----- resources -----

void Machine::SetResource(const std::string& type, int id, std::string bytes) {
  RemoveResource(type, id);
  resources_.push_back({Normal(type), id, std::move(bytes)});
}

void Machine::RemoveResource(const std::string& type, int id) {
  const std::string normal = Normal(type);
  std::erase_if(resources_, [&](const Resource& r) { return r.type == normal && r.id == id; });
}

const Machine::Resource* Machine::FindResource(const std::string& type, int id) const {
  const std::string normal = Normal(type);
  for (const Resource& r : resources_) {
    if (r.type == normal && r.id == id) return &r;
  }
  return nullptr;
}

// ----- handles and mutexes -----

win::HANDLE Machine::NewHandle(std::string kind, std::string path) {
  const std::uintptr_t value = nextHandle_;
  nextHandle_ += sizeof(void*);
  handles_[value] = {std::move(kind), std::move(path)};
  return reinterpret_cast<win::HANDLE>(value);
}

bool Machine::CloseHandleOf(win::HANDLE handle) {
  return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

std::string Machine::HandleKind(win::HANDLE handle) const {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? std::string() : it->second.kind;
}

std::string Machine::HandlePath(win::HANDLE handle) const {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? std::string() : it->second.path;
}

bool Machine::CreateMutex(const std::string& name) {
  if (mutexesOfOtherProcesses.count(name) != 0 || ownMutexes_.count(name) != 0) return false;
  ownMutexes_.insert(name);
  return true;
}

// ----- windows and the message queue -----

win::HWND Machine::CreateDialogWindow(win::UINT templateId, win::CWnd* owner) {
  const auto tmpl = dialogTemplates.find(templateId);
  if (tmpl == dialogTemplates.end()) return nullptr;
  const std::uintptr_t value = nextWindow_;
  nextWindow_ += sizeof(void*);
  Window window;
  window.owner = owner;
  window.templateId = templateId;
  window.style = tmpl->second.style;
  window.exStyle = tmpl->second.exStyle;
  windows_[value] = window;
  windowRecord_[value] = windowsCreated.size();
  windowsCreated.push_back(window);
  return reinterpret_cast<win::HWND>(value);
}

void Machine::DestroyWindow(win::HWND window) {
  const auto key = reinterpret_cast<std::uintptr_t>(window);
  if (Window* w = WindowOf(window)) windowsCreated[windowRecord_[key]] = *w;
  windows_.erase(key);
  std::erase_if(queue_, [&](const win::MSG& m) { return m.hwnd == window; });
}

Window* Machine::WindowOf(win::HWND window) {
  const auto it = windows_.find(reinterpret_cast<std::uintptr_t>(window));
  return it == windows_.end() ? nullptr : &it->second;
}

std::optional<win::MSG> Machine::NextMessage() {
  // Posted messages come before the quit request that was posted after them.
  if (!queue_.empty()) {
    win::MSG msg = queue_.front();
    queue_.pop_front();
    return msg;
  }
  if (quitPosted_) {
    quitPosted_ = false;
    return std::nullopt;
  }
  throw Stalled("the modal loop waits for a message that nothing will send");
}

// ----- processes -----

void Machine::BeginProcess() {
  queue_.clear();
  quitPosted_ = false;
  windows_.clear();
  lastError_ = 0;
}

void Machine::EndProcess() {
  // The system releases what a process held when it ends.
  ownMutexes_.clear();
  handles_.clear();
  for (const auto& [key, window] : windows_) windowsCreated[windowRecord_[key]] = window;
  windows_.clear();
  queue_.clear();
}

ProcessResult RunProcess(const std::string& arguments) {
  Machine& machine = TheMachine();
  machine.BeginProcess();
  win::CWinApp* app = win::AfxGetApp();
  app->m_lpCmdLine = arguments.c_str();
  app->m_pMainWnd = nullptr;
  machine.Log("ProcessStart", arguments);

  ProcessResult result;
  try {
    app->InitInstance();
    result.exitCode = app->ExitInstance();
  } catch (const ProcessExit& exit) {
    result.exitCode = exit.code;
    result.exitedThroughCrt = true;
  } catch (const Stalled&) {
    result.stalled = true;
  }
  app->m_pMainWnd = nullptr;
  machine.Log("ProcessEnd");
  machine.EndProcess();
  return result;
}

}  // namespace sim
