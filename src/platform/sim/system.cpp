// The process itself: start-up calls, errors, threads and sleeping, language and text, COM
// start-up and debugger output.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/services.h"
#include "platform/sim/charsets.h"
#include "platform/sim/machine.h"

namespace win {
namespace {

using sim::TheMachine;

constexpr std::uintptr_t kCurrentProcessPseudoHandle = static_cast<std::uintptr_t>(-1);
constexpr std::uintptr_t kCurrentThreadPseudoHandle = static_cast<std::uintptr_t>(-2);
constexpr std::uintptr_t kInstanceHandle = 0x400000;
constexpr UINT kKoreanCodePage = 949;
constexpr unsigned char kFirstLeadByte = 0x81;
constexpr unsigned char kLastLeadByte = 0xFE;
constexpr DWORD kResumeFailed = static_cast<DWORD>(-1);

sim::Machine& M() { return TheMachine(); }

BOOL Fail(DWORD error) {
  M().SetLastError(error);
  return FALSE;
}

bool IsLeadByte(unsigned char c) {
  return M().codePage == kKoreanCodePage && c >= kFirstLeadByte && c <= kLastLeadByte;
}

std::string Narrow(char16_t c, UINT codePage) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  if (codePage != kKoreanCodePage) return "?";
  const char wide[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return sim::Convert({wide, sizeof(wide)}, sim::kWideCharset, sim::kKoreanCharset).value_or("?");
}

// One double-byte character of code page 949.
char16_t Widen(const char* twoBytes) {
  const std::optional<std::string> wide = sim::Convert({twoBytes, 2}, sim::kKoreanCharset, sim::kWideCharset);
  if (!wide || wide->size() != sizeof(char16_t)) return u'\uFFFD';
  return static_cast<char16_t>(static_cast<unsigned char>((*wide)[0]) | (static_cast<unsigned char>((*wide)[1]) << 8));
}

}  // namespace

void InitCommonControls() { M().Log("InitCommonControls"); }

BOOL SetDefaultDllDirectories(DWORD directoryFlags) {
  M().Log("SetDefaultDllDirectories", {directoryFlags});
  if (const auto failure = M().Consult("SetDefaultDllDirectories")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

BOOL SetDllDirectoryA(const char* path) {
  M().Log("SetDllDirectoryA", {path});
  return TRUE;
}

HANDLE CreateMutexA(void*, BOOL initialOwner, const char* name) {
  M().Log("CreateMutexA", {name, initialOwner});
  if (const auto failure = M().Consult("CreateMutexA")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const bool created = M().CreateMutex(name);
  M().SetLastError(created ? 0 : ERROR_ALREADY_EXISTS);
  return M().NewHandle("mutex", name);
}

BOOL CloseHandle(HANDLE handle) {
  M().Log("CloseHandle", {M().HandleKind(handle)});
  if (const auto failure = M().Consult("CloseHandle")) {
    M().CloseHandleOf(handle);  // the handle is gone either way; the failure is what counts
    return Fail(failure->error != 0 ? failure->error : ERROR_WRITE_FAULT);
  }
  return M().CloseHandleOf(handle) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

DWORD GetLastError() { return M().LastError(); }

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(kCurrentProcessPseudoHandle); }

BOOL IsWow64Process(HANDLE, BOOL* isWow64) {
  M().Log("IsWow64Process");
  if (const auto failure = M().Consult("IsWow64Process")) return Fail(failure->error != 0 ? failure->error : ERROR_ACCESS_DENIED);
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
  M().Log("Sleep", {milliseconds});
  M().scheduler().WaitUntil(M().Now() + milliseconds);
}

// The virtual clock; not logged, since reading the clock is not something the machine sees.
std::uint64_t GetTickCount64() { return M().Now(); }

namespace {

// A thread's id is its handle's number.
DWORD IdOf(HANDLE thread) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(thread)); }

void StartSimThread(HANDLE handle, std::function<void()> body) {
  const int thread = M().scheduler().StartThread(std::move(body));
  M().threadOfHandle[handle] = thread;
  M().threadOfId[IdOf(handle)] = thread;
}

}  // namespace

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char*) {
  M().Log("CreateEventA", {manualReset, initialState});
  if (const auto failure = M().Consult("CreateEventA")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const HANDLE event = M().NewHandle("event");
  M().events[event].set = initialState != FALSE;
  return event;
}

BOOL SetEvent(HANDLE event) {
  M().Log("SetEvent");
  const auto it = M().events.find(event);
  if (it == M().events.end()) {
    M().SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  it->second.set = true;
  for (const int waiter : it->second.waiters) M().scheduler().Wake(waiter);
  it->second.waiters.clear();
  return TRUE;
}

HANDLE CreateThread(void*, std::size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD creationFlags, DWORD* threadId) {
  M().Log("CreateThread", {stackSize, creationFlags});
  if (const auto failure = M().Consult("CreateThread")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A suspended thread is made at ResumeThread; the handle is what the two share.
  const HANDLE handle = M().NewHandle("thread", std::to_string(reinterpret_cast<std::uintptr_t>(start)));
  auto body = [start, parameter] { start(parameter); };
  if ((creationFlags & CREATE_SUSPENDED) != 0) {
    M().suspendedThreads[handle] = body;
  } else {
    StartSimThread(handle, body);
  }
  if (threadId != nullptr) *threadId = IdOf(handle);
  return handle;
}

DWORD ResumeThread(HANDLE thread) {
  M().Log("ResumeThread");
  if (const auto failure = M().Consult("ResumeThread")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_ACCESS_DENIED);
    return kResumeFailed;
  }
  const auto pending = M().suspendedThreads.find(thread);
  if (pending == M().suspendedThreads.end()) return 0;
  StartSimThread(thread, std::move(pending->second));
  M().suspendedThreads.erase(pending);
  return 1;
}

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(kCurrentThreadPseudoHandle); }

// Recorded with the simulated thread whose priority it sets.
BOOL SetThreadPriority(HANDLE thread, int priority) {
  const auto target = M().threadOfHandle.find(thread);
  const int targetThread = thread == GetCurrentThread() ? M().CurrentThread()
                           : target != M().threadOfHandle.end() ? target->second
                                                                 : -1;
  M().Log("SetThreadPriority", {priority, targetThread});
  if (const auto failure = M().Consult("SetThreadPriority")) return Fail(failure->error != 0 ? failure->error : ERROR_ACCESS_DENIED);
  return TRUE;
}

void OutputDebugStringA(const char* text) {
  M().Log("OutputDebugStringA", {text});
  M().debugOutput.emplace_back(text);
}

UINT SetErrorMode(UINT mode) {
  M().Log("SetErrorMode", {mode});
  const UINT previous = M().errorMode;
  // SetErrorMode reports no failure; a failed one is one that changed nothing.
  if (!M().Consult("SetErrorMode")) M().errorMode = mode;
  return previous;
}

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  M().Log("SetUnhandledExceptionFilter");
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = M().topLevelFilter;
  M().topLevelFilter = filter;
  return previous;
}

void SetCrtFailureHandler(void (*handler)()) {
  M().Log("SetCrtFailureHandler");
  M().crtFailureHandler = handler;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  M().Log("TerminateProcess", {exitCode});
  if (process != GetCurrentProcess()) return Fail(ERROR_ACCESS_DENIED);
  throw sim::ProcessExit{static_cast<int>(exitCode)};
}

BOOL SetThreadStackGuarantee(ULONG* stackSizeInBytes) {
  M().Log("SetThreadStackGuarantee", {*stackSizeInBytes});
  if (const auto failure = M().Consult("SetThreadStackGuarantee")) return Fail(failure->error != 0 ? failure->error : ERROR_PROC_NOT_FOUND);
  *stackSizeInBytes = 0;  // the guarantee the thread had before: none
  return TRUE;
}

HRESULT WerSetFlags(DWORD flags) {
  M().Log("WerSetFlags", {flags});
  if (const auto failure = M().Consult("WerSetFlags")) return failure->error != 0 ? static_cast<HRESULT>(failure->error) : E_NOTIMPL;
  return S_OK;
}

void CrtExit(int code) {
  M().Log("exit", {code});
  throw sim::ProcessExit{code};
}

// --- language and text ------------------------------------------------------------------

LANGID GetSystemDefaultLangID() {
  M().Log("GetSystemDefaultLangID");
  return M().languageId;
}

LCID GetSystemDefaultLCID() {
  M().Log("GetSystemDefaultLCID");
  return M().localeId;
}

DWORD CharUpperBuffA(char* text, DWORD length) {
  M().Log("CharUpperBuffA", {std::string(text, length)});
  for (DWORD i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(c)) {
      ++i;  // a double-byte character keeps both bytes
    } else if (c >= 'a' && c <= 'z') {
      text[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  return length;
}

// Narrow to wide: in code page 949 every character it has, elsewhere ASCII only; the rest
// becomes U+FFFD. Wide to narrow: ASCII, and in code page 949 every character it has as its one
// or two bytes; anything else becomes '?'.
int MultiByteToWideChar(UINT codePage, DWORD, const char* text, int length, char16_t* wide, int wideLength) {
  const int count = length < 0 ? static_cast<int>(std::strlen(text)) + 1 : length;
  const UINT page = codePage == CP_THREAD_ACP ? M().codePage : codePage;
  std::u16string converted;
  for (int i = 0; i < count; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      converted += static_cast<char16_t>(c);
    } else if (page == kKoreanCodePage && i + 1 < count) {
      converted += Widen(text + i);
      ++i;  // the character's second byte
    } else {
      converted += u'\uFFFD';
    }
  }
  const int size = static_cast<int>(converted.size());
  if (wideLength == 0) return size;
  if (wideLength < size) {
    M().SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(converted.begin(), converted.end(), wide);
  return size;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* wide, int wideLength, char* text, int length) {
  M().Log("WideCharToMultiByte", {codePage, flags});
  if (const auto failure = M().Consult("WideCharToMultiByte")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_INVALID_PARAMETER);
    return 0;
  }
  int count = wideLength;
  if (wideLength < 0) {
    count = 0;
    while (wide[count] != 0) ++count;
    ++count;
  }
  const UINT page = codePage == CP_THREAD_ACP ? M().codePage : codePage;
  std::string narrow;
  for (int i = 0; i < count; ++i) narrow += Narrow(wide[i], page);
  if (length == 0) return static_cast<int>(narrow.size());
  if (length < static_cast<int>(narrow.size())) {
    M().SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(text, narrow.data(), narrow.size());
  return static_cast<int>(narrow.size());
}

// --- COM --------------------------------------------------------------------------------

HRESULT CoInitialize(void*) {
  M().Log("CoInitialize");
  if (const auto failure = M().Consult("CoInitialize")) return static_cast<HRESULT>(failure->error != 0 ? failure->error : 0x80004005u);
  return S_OK;
}

HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3) {
  const bool nullPointers = securityDescriptor == nullptr && authServices == nullptr &&
                            reserved1 == nullptr && authList == nullptr && reserved3 == nullptr;
  M().Log("CoInitializeSecurity",
          {authServiceCount, authnLevel, impLevel, capabilities, nullPointers ? "null" : "pointers"});
  if (const auto failure = M().Consult("CoInitializeSecurity")) {
    return failure->error != 0 ? static_cast<HRESULT>(failure->error) : RPC_E_TOO_LATE;
  }
  return S_OK;
}

// --- shell folders ----------------------------------------------------------------------

HRESULT SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, char* path) {
  // What a failed folder query leaves in the caller's buffer: unrelated bytes.
  constexpr const char* kGarbage = "\x01\x02garbage";
  M().Log("SHGetFolderPathA", {csidl});
  const auto failure = M().Consult("SHGetFolderPathA");
  if (csidl != CSIDL_PROGRAM_FILES || failure) {
    std::strcpy(path, kGarbage);
    return failure && failure->error != 0 ? static_cast<HRESULT>(failure->error) : E_FAIL;
  }
  std::strcpy(path, M().programFilesFolder.c_str());
  return S_OK;
}

}  // namespace win
