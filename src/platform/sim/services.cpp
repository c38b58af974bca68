// The system services answered by the simulated machine. Each call is logged by its Win32
// name; a call that a test told to fail reports failure the way Windows does.
#include <cstring>
#include <string>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace win {
namespace {

using sim::Machine;
using sim::TheMachine;

constexpr HRESULT kFailHResult = static_cast<HRESULT>(0x80004005u);  // E_FAIL
constexpr HRESULT kRpcTooLate = static_cast<HRESULT>(0x80010119u);   // RPC_E_TOO_LATE
constexpr UINT kButtonMask = 0xF;
constexpr std::uintptr_t kCurrentProcessPseudoHandle = static_cast<std::uintptr_t>(-1);
constexpr std::uintptr_t kInstanceHandle = 0x400000;
constexpr std::uintptr_t kIconHandle = 0x1280;
// What a failed folder query leaves in the caller's buffer: unrelated bytes.
constexpr const char* kGarbage = "\x01\x02garbage";

Machine& M() { return TheMachine(); }

std::string RootName(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == HKEY_USERS) return "HKU";
  return "?";
}

BOOL Fail(DWORD error) {
  M().SetLastError(error);
  return FALSE;
}

}  // namespace

// --- process, errors, start-up ----------------------------------------------------------

void InitCommonControls() { M().Log("InitCommonControls"); }

HANDLE CreateMutexA(void*, BOOL initialOwner, const char* name) {
  M().Log("CreateMutexA", std::string(name) + (initialOwner ? " owned" : " not owned"));
  const bool created = M().CreateMutex(name);
  M().SetLastError(created ? 0 : ERROR_ALREADY_EXISTS);
  return M().NewHandle("mutex", name);
}

BOOL CloseHandle(HANDLE handle) {
  M().Log("CloseHandle", M().HandleKind(handle));
  if (M().ShouldFail("CloseHandle")) {
    M().CloseHandleOf(handle);  // the handle is gone either way; the failure is what counts
    return Fail(ERROR_WRITE_FAULT);
  }
  return M().CloseHandleOf(handle) ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

DWORD GetLastError() { return M().LastError(); }

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(kCurrentProcessPseudoHandle); }

BOOL IsWow64Process(HANDLE, BOOL* isWow64) {
  M().Log("IsWow64Process");
  if (M().wow64CallFails || M().ShouldFail("IsWow64Process")) return Fail(ERROR_ACCESS_DENIED);
  *isWow64 = M().wow64Process ? TRUE : FALSE;
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD size) {
  const std::string& path = M().modulePath;
  const DWORD length = static_cast<DWORD>(path.size() < size ? path.size() : size - 1);
  std::memcpy(buffer, path.data(), length);
  buffer[length] = '\0';
  return length;
}

HINSTANCE GetModuleHandleA(const char*) { return reinterpret_cast<HINSTANCE>(kInstanceHandle); }

void Sleep(DWORD milliseconds) {
  M().Log("Sleep", std::to_string(milliseconds));
  M().nowMs += milliseconds;
}

void OutputDebugStringA(const char* text) {
  M().Log("OutputDebugStringA", text);
  M().debugOutput.emplace_back(text);
}

void CrtExit(int code) {
  M().Log("exit", std::to_string(code));
  throw sim::ProcessExit{code};
}

// --- language ---------------------------------------------------------------------------

LANGID GetSystemDefaultLangID() {
  M().Log("GetSystemDefaultLangID");
  return M().languageId;
}

LCID GetSystemDefaultLCID() {
  M().Log("GetSystemDefaultLCID");
  return M().localeId;
}

// --- COM --------------------------------------------------------------------------------

HRESULT CoInitialize(void*) {
  M().Log("CoInitialize");
  return S_OK;
}

HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3) {
  const bool nullPointers = securityDescriptor == nullptr && authServices == nullptr &&
                            reserved1 == nullptr && authList == nullptr && reserved3 == nullptr;
  M().Log("CoInitializeSecurity", std::to_string(authServiceCount) + " " +
                                      std::to_string(authnLevel) + " " + std::to_string(impLevel) +
                                      " " + std::to_string(capabilities) +
                                      (nullPointers ? " null" : " pointers"));
  if (M().ShouldFail("CoInitializeSecurity")) return kRpcTooLate;
  return M().comSecurityResult;
}

// --- registry ---------------------------------------------------------------------------

LSTATUS SHDeleteValueA(HKEY key, const char* subKey, const char* valueName) {
  const std::string path = RootName(key) + "\\" + subKey;
  M().Log("SHDeleteValueA", path + " " + valueName);
  auto& registry = M().Registry();
  const auto k = registry.find(Machine::Normal(path));
  if (k == registry.end() || k->second.erase(Machine::Normal(valueName)) == 0) {
    return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
  }
  return ERROR_SUCCESS;
}

// --- shell folders and files ------------------------------------------------------------

HRESULT SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, char* path) {
  M().Log("SHGetFolderPathA", std::to_string(csidl));
  if (csidl != CSIDL_PROGRAM_FILES || M().programFilesQueryFails ||
      M().ShouldFail("SHGetFolderPathA")) {
    std::strcpy(path, kGarbage);
    return kFailHResult;
  }
  std::strcpy(path, M().programFilesFolder.c_str());
  return S_OK;
}

BOOL CreateDirectoryA(const char* path, void*) {
  M().Log("CreateDirectoryA", path);
  const std::string normal = Machine::Normal(path);
  if (M().ShouldFail("CreateDirectoryA")) return Fail(ERROR_ACCESS_DENIED);
  if (M().Folders().count(normal) != 0 || M().Files().count(normal) != 0) {
    return Fail(ERROR_ALREADY_EXISTS);
  }
  if (M().Folders().count(Machine::ParentOf(normal)) == 0) return Fail(ERROR_PATH_NOT_FOUND);
  M().Folders().insert(normal);
  return TRUE;
}

BOOL RemoveDirectoryA(const char* path) {
  M().Log("RemoveDirectoryA", path);
  const std::string normal = Machine::Normal(path);
  if (M().Folders().count(normal) == 0) return Fail(ERROR_FILE_NOT_FOUND);
  if (!M().FolderEntries(path).empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  if (M().ShouldFail("RemoveDirectoryA")) return Fail(ERROR_ACCESS_DENIED);
  M().Folders().erase(normal);
  return TRUE;
}

BOOL DeleteFileA(const char* path) {
  M().Log("DeleteFileA", path);
  auto& files = M().Files();
  const auto it = files.find(Machine::Normal(path));
  if (it == files.end()) return Fail(ERROR_FILE_NOT_FOUND);
  if (it->second.locked || M().ShouldFail("DeleteFileA")) return Fail(ERROR_SHARING_VIOLATION);
  files.erase(it);
  return TRUE;
}

bool PathExists(const char* path) {
  M().Log("FindFirstFileA", path);
  const bool exists = M().FileExists(path) || M().FolderExists(path);
  if (exists) M().Log("FindClose");
  return exists;
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void*, DWORD disposition,
                   DWORD attributes, HANDLE) {
  M().Log("CreateFileA", std::string(path) + " " + std::to_string(access) + " " +
                             std::to_string(shareMode) + " " + std::to_string(disposition) + " " +
                             std::to_string(attributes));
  const std::string normal = Machine::Normal(path);
  auto& files = M().Files();
  if (M().Folders().count(Machine::ParentOf(normal)) == 0) {
    Fail(ERROR_PATH_NOT_FOUND);
    return InvalidHandle();
  }
  if (M().Folders().count(normal) != 0) {
    Fail(ERROR_ACCESS_DENIED);
    return InvalidHandle();
  }
  const auto existing = files.find(normal);
  if ((existing != files.end() && existing->second.locked) || M().ShouldFail("CreateFileA")) {
    Fail(ERROR_SHARING_VIOLATION);
    return InvalidHandle();
  }
  M().AddFile(path, {});
  return M().NewHandle("file", normal);
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void*) {
  M().Log("WriteFile", std::to_string(size));
  auto& files = M().Files();
  const auto it = files.find(M().HandlePath(file));
  if (M().HandleKind(file) != "file" || it == files.end()) return Fail(ERROR_ACCESS_DENIED);
  const char* bytes = static_cast<const char*>(data);
  if (M().ShouldFail("WriteFile")) {
    // The disk fills up half-way: what fitted is on the disk, the rest is lost.
    it->second.bytes.append(bytes, size / 2);
    *written = size / 2;
    return Fail(ERROR_DISK_FULL);
  }
  if (M().shortWriteNext) {
    M().shortWriteNext = false;
    it->second.bytes.append(bytes, size / 2);
    *written = size / 2;
    return TRUE;
  }
  it->second.bytes.append(bytes, size);
  *written = size;
  return TRUE;
}

// --- the program's own resources --------------------------------------------------------

HRSRC FindResourceA(HMODULE, int id, const char* type) {
  M().Log("FindResourceA", std::string(type) + " " + std::to_string(id));
  const Machine::Resource* resource = M().FindResource(type, id);
  if (resource == nullptr || M().ShouldFail("FindResourceA")) return nullptr;
  return reinterpret_cast<HRSRC>(const_cast<Machine::Resource*>(resource));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  M().Log("LoadResource");
  if (resource == nullptr || M().ShouldFail("LoadResource")) return nullptr;
  return reinterpret_cast<HGLOBAL>(resource);
}

const void* LockResource(HGLOBAL loaded) {
  M().Log("LockResource");
  if (loaded == nullptr) return nullptr;
  return reinterpret_cast<const Machine::Resource*>(loaded)->bytes.data();
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  M().Log("SizeofResource");
  if (resource == nullptr) return 0;
  return static_cast<DWORD>(reinterpret_cast<const Machine::Resource*>(resource)->bytes.size());
}

BOOL FreeResource(HGLOBAL) {
  M().Log("FreeResource");
  return FALSE;  // as on Windows, where resources are not freed one by one
}

HICON LoadIconA(HINSTANCE, int id) {
  M().Log("LoadIconA", std::to_string(id));
  return reinterpret_cast<HICON>(kIconHandle);
}

// --- windows and message boxes ----------------------------------------------------------

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT flags) {
  M().Log("MessageBoxA", caption);
  Machine& machine = M();
  int answer = IDOK;
  if (!machine.messageBoxAnswers.empty()) {
    answer = machine.messageBoxAnswers.front();
    machine.messageBoxAnswers.pop_front();
  } else if ((flags & kButtonMask) != MB_OK) {
    throw std::logic_error(std::string("no scripted answer for the question: ") + text);
  }
  machine.messageBoxes.push_back({owner, text, caption, flags, answer});
  return answer;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  M().Log("SendMessageA", std::to_string(message) + " " + std::to_string(wParam));
  sim::Window* w = M().WindowOf(window);
  if (w == nullptr) return 0;
  if (message == WM_SETICON) {
    HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
    const HICON previous = slot;
    slot = reinterpret_cast<HICON>(lParam);
    return reinterpret_cast<LRESULT>(previous);
  }
  return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  M().Log("PostMessageA", std::to_string(message) + " " + std::to_string(wParam));
  if (M().WindowOf(window) == nullptr || M().ShouldFail("PostMessageA")) return FALSE;
  M().Post({window, message, wParam, lParam});
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  M().Log("PostQuitMessage", std::to_string(exitCode));
  M().PostQuit();
}

BOOL SetWindowTextA(HWND window, const char* text) {
  M().Log("SetWindowTextA", text);
  sim::Window* w = M().WindowOf(window);
  if (w == nullptr) return FALSE;
  w->title = text;
  return TRUE;
}

LONG GetWindowLongA(HWND window, int index) {
  sim::Window* w = M().WindowOf(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  return static_cast<LONG>(w->exStyle);
}

LONG SetWindowLongA(HWND window, int index, LONG value) {
  M().Log("SetWindowLongA", std::to_string(index) + " " + std::to_string(value));
  sim::Window* w = M().WindowOf(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  const LONG previous = static_cast<LONG>(w->exStyle);
  w->exStyle = static_cast<DWORD>(value);
  return previous;
}

}  // namespace win
