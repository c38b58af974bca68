// The simulated machine behind the seam, for the host tests.
//
// One plain object holds everything a run can touch: registry, files and folders, the
// program's resources, windows and the message queue, message boxes with scripted answers,
// debugger output, language settings, and a log of every call in order. Any call can be told
// to fail. Sleep advances a virtual clock, so a run's pauses cost nothing.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/framework.h"
#include "platform/win_types.h"

namespace sim {

struct CallRecord {
  std::string name;
  std::string detail;
};

struct MessageBoxRecord {
  win::HWND owner;
  std::string text;
  std::string caption;
  win::UINT flags;
  int answer;
};

struct RegistryValue {
  win::DWORD type;
  std::string data;
};

struct File {
  std::string name;   // as spelled when it was created
  std::string bytes;
  bool locked = false;  // held open by another process: cannot be deleted or replaced
};

struct Window {
  win::CWnd* owner = nullptr;
  win::UINT templateId = 0;
  std::string title;
  win::DWORD style = 0;
  win::DWORD exStyle = 0;
  win::HICON bigIcon = nullptr;
  win::HICON smallIcon = nullptr;
  bool visible = false;
};

struct DialogTemplate {
  win::DWORD style;
  win::DWORD exStyle;
};

// Thrown by the run-time library's exit: the process ends at once.
struct ProcessExit {
  int code;
};

// Thrown when the program waits for a message that can never come: a real run would hang.
struct Stalled : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the program would have seen of the machine: the defaults are an English 64-bit
// Windows with the program started from the downloads folder.
class Machine {
 public:
  Machine();

  // ----- settings a test chooses before a run -----
  win::LANGID languageId;
  win::LCID localeId;
  bool wow64Process = true;  // a 32-bit process on 64-bit Windows
  bool wow64CallFails = false;
  win::HRESULT comSecurityResult;
  std::string programFilesFolder;
  bool programFilesQueryFails = false;
  std::string modulePath;
  std::set<std::string> mutexesOfOtherProcesses;
  // Answers for the next message boxes, in order. Without one an OK box is answered IDOK;
  // any other box without a scripted answer is a test error.
  std::deque<int> messageBoxAnswers;
  std::map<win::UINT, DialogTemplate> dialogTemplates;

  // ----- failures -----
  // The nth call of that name from now on fails (1 = the very next one).
  void FailCall(const std::string& name, int nth = 1);
  // The next WriteFile writes only half of the bytes and reports that count as success.
  bool shortWriteNext = false;

  // ----- registry -----
  void SetRegistryValue(const std::string& key, const std::string& name, RegistryValue value);
  std::optional<RegistryValue> RegistryValueOf(const std::string& key, const std::string& name) const;

  // ----- files and folders (paths are case-insensitive, "\" separated) -----
  void AddFolder(const std::string& path);
  void AddFile(const std::string& path, std::string bytes, bool locked = false);
  bool FolderExists(const std::string& path) const;
  bool FileExists(const std::string& path) const;
  const File* FileAt(const std::string& path) const;
  std::vector<std::string> FolderEntries(const std::string& folder) const;
  int OpenFileHandles() const;

  // ----- the program's resources -----
  void SetResource(const std::string& type, int id, std::string bytes);
  void RemoveResource(const std::string& type, int id);

  // ----- observations -----
  const std::vector<CallRecord>& Calls() const { return calls_; }
  // Position of the first call of that name at or after `from`, or -1.
  int IndexOfCall(std::string_view name, std::size_t from = 0) const;
  int CountCalls(std::string_view name) const;
  std::vector<MessageBoxRecord> messageBoxes;
  std::vector<std::string> debugOutput;
  std::uint64_t nowMs = 0;
  // Every window the run created, also after it was destroyed.
  std::vector<Window> windowsCreated;

  // ----- used by the simulated services -----
  void Log(std::string name, std::string detail = {});
  bool ShouldFail(const std::string& name);
  void SetLastError(win::DWORD error) { lastError_ = error; }
  win::DWORD LastError() const { return lastError_; }

  win::HANDLE NewHandle(std::string kind, std::string path = {});
  bool CloseHandleOf(win::HANDLE handle);
  std::string HandleKind(win::HANDLE handle) const;
  std::string HandlePath(win::HANDLE handle) const;

  bool CreateMutex(const std::string& name);
  std::map<std::string, std::map<std::string, RegistryValue>>& Registry() { return registry_; }
  std::map<std::string, File>& Files() { return files_; }
  std::set<std::string>& Folders() { return folders_; }
  static std::string Normal(std::string_view path);
  static std::string ParentOf(const std::string& path);

  struct Resource {
    std::string type;
    int id;
    std::string bytes;
  };
  const Resource* FindResource(const std::string& type, int id) const;

  win::HWND CreateDialogWindow(win::UINT templateId, win::CWnd* owner);
  void DestroyWindow(win::HWND window);
  Window* WindowOf(win::HWND window);
  void Post(win::MSG msg) { queue_.push_back(msg); }
  void PostQuit() { quitPosted_ = true; }
  // The next message for the modal loop; empty when the quit request arrives.
  std::optional<win::MSG> NextMessage();

  void BeginProcess();
  void EndProcess();

 private:
  std::vector<CallRecord> calls_;
  std::map<std::string, int> pendingFailures_;
  win::DWORD lastError_ = 0;

  std::map<std::string, std::map<std::string, RegistryValue>> registry_;
  std::map<std::string, File> files_;
  std::set<std::string> folders_;
  std::vector<Resource> resources_;

  struct HandleRecord {
    std::string kind;
    std::string path;
  };
  std::map<std::uintptr_t, HandleRecord> handles_;
  std::uintptr_t nextHandle_ = 0x100;
  std::set<std::string> ownMutexes_;

  std::map<std::uintptr_t, Window> windows_;
  std::map<std::uintptr_t, std::size_t> windowRecord_;
  std::uintptr_t nextWindow_ = 0x10000;
  std::deque<win::MSG> queue_;
  bool quitPosted_ = false;
};

Machine& TheMachine();
// A fresh machine with the default settings.
void ResetMachine();

struct ProcessResult {
  int exitCode = -1;
  bool exitedThroughCrt = false;
  bool stalled = false;
};

// Runs the program once, as a new process with these command-line arguments.
ProcessResult RunProcess(const std::string& arguments);

}  // namespace sim
