// WinFlash64.exe stand-in: the flash utility the updater runs once every guard has passed.
//
// It takes the one command line the updater is meant to give it, checks the capsule in the
// current directory the way the real tool would refuse a wrong one, and "flashes" nothing.
// Environment hooks (inherited from the updater) let tests see how it was run and make it
// slow or failing:
//   WINFLASH_LOG=path        append  cmdline=...|cwd=...|exit=N|reason=...|startms=T  per run
//                            (T: when the tool started, in ms since 1970, to time the updater)
//   WINFLASH_DELAY_MS=n      sleep n ms before ending (flashing takes time)
//   WINFLASH_UNTIL_FILE=path with WINFLASH_DELAY_MS: end as soon as that file exists, n ms
//                            being only the bound; the log line then ends in |until=file, or
//                            |until=bound when the file never came (a check that did not take
//                            its looks in time)
//   WINFLASH_EXIT_CODE=n     end with n after a capsule that checked out
//   WINFLASH_HIDE_CONSOLE=1  hide its console window at once: under Wine without a window
//                            manager a console window that appears after the updater's topmost
//                            window can stay drawn above it, whatever the windows' order says,
//                            and a screenshot of the screen would show the console, not the
//                            updater
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capsule_format.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadCommandLine = 2;
constexpr int kExitCannotReadCapsule = 3;
constexpr int kExitBadCapsule = 4;

constexpr std::string_view kBanner = "WinFlash64 stand-in";
constexpr std::string_view kReasonOk = "OK";

// After the program's own name: /cvar /bbl /sd /file NAME /nodelay
constexpr std::array<std::string_view, 6> kExpectedArgs{"/cvar", "/bbl", "/sd",
                                                        "/file", "",     "/nodelay"};
constexpr std::size_t kFileNameArg = 4;  // the empty slot above
// Folder separators, a drive colon, and the characters Windows never allows in a file name.
constexpr std::string_view kNotInBareName = "\\/:*?\"<>|";

constexpr const char* kLogVariable = "WINFLASH_LOG";
constexpr const char* kDelayVariable = "WINFLASH_DELAY_MS";
constexpr const char* kExitCodeVariable = "WINFLASH_EXIT_CODE";
constexpr const char* kHideConsoleVariable = "WINFLASH_HIDE_CONSOLE";
constexpr const char* kUntilFileVariable = "WINFLASH_UNTIL_FILE";
constexpr DWORD kUntilFilePollMs = 100;

// ---- RAII ------------------------------------------------------------------------------

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// ---- Small Windows helpers ---------------------------------------------------------------

std::string ErrorText(DWORD error) {
  constexpr DWORD kMaxMessage = 512;
  std::array<char, kMaxMessage> buffer{};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, buffer.data(), kMaxMessage, nullptr);
  std::string text(buffer.data(), length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text + " (error " + std::to_string(error) + ")";
}

// An empty variable counts as unset, so a test can switch a hook off with NAME=.
std::optional<std::string> Environment(const char* name) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::string value(needed, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  value.resize(length);
  if (value.empty()) return std::nullopt;
  return value;
}

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  std::string dir(needed, '\0');
  dir.resize(GetCurrentDirectoryA(needed, dir.data()));
  return dir;
}

template <typename T>
std::optional<T> ParseNumber(const std::string& text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);  // the updater may read our output through a pipe as we go
}

// ---- One run -----------------------------------------------------------------------------

struct Outcome {
  int exit_code;
  std::string reason;
};

// The arguments after the program's own path. The updater names the tool by an unquoted path
// that may hold blanks ("C:\Program Files\..."), which the C run-time's argv would split;
// like the vendor's tool, the stand-in takes its own path off the front of the command line
// and splits only the rest.
std::vector<std::string> ArgumentsAfterOwnPath() {
  std::string_view line = GetCommandLineA();
  std::array<char, MAX_PATH> own{};
  const DWORD ownLength = GetModuleFileNameA(nullptr, own.data(), static_cast<DWORD>(own.size()));
  const std::string_view ownPath(own.data(), ownLength);
  const auto sameText = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  if (!line.empty() && line.front() == '"') {
    const std::size_t close = line.find('"', 1);
    line.remove_prefix(close == std::string_view::npos ? line.size() : close + 1);
  } else if (line.size() >= ownPath.size() && sameText(line.substr(0, ownPath.size()), ownPath)) {
    line.remove_prefix(ownPath.size());
  } else {
    const std::size_t blank = line.find(' ');
    line.remove_prefix(blank == std::string_view::npos ? line.size() : blank);
  }
  std::vector<std::string> arguments;
  std::string current;
  for (const char c : line) {
    if (c == ' ' || c == '\t') {
      if (!current.empty()) arguments.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) arguments.push_back(current);
  return arguments;
}

std::optional<std::string> CommandLineProblem(const std::vector<std::string>& args) {
  const std::size_t given = args.size();
  if (given != kExpectedArgs.size()) {
    return "expected " + std::to_string(kExpectedArgs.size()) +
           " arguments (/cvar /bbl /sd /file NAME /nodelay), got " + std::to_string(given);
  }
  for (std::size_t i = 0; i < kExpectedArgs.size(); ++i) {
    const std::string_view arg = args[i];
    if (i == kFileNameArg) {
      if (arg.empty() || arg.find_first_of(kNotInBareName) != std::string_view::npos) {
        return "file name \"" + std::string(arg) + "\" is not a bare file name";
      }
    } else if (arg != kExpectedArgs[i]) {
      return "argument " + std::to_string(i + 1) + " is \"" + std::string(arg) + "\", expected \"" +
             std::string(kExpectedArgs[i]) + "\"";
    }
  }
  return std::nullopt;
}

// The whole capsule, or why it could not be had.
std::optional<std::vector<std::uint8_t>> ReadCapsule(const std::string& name, std::string& why) {
  const Handle file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    why = "cannot open capsule " + name + ": " + ErrorText(GetLastError());
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) {
    why = "cannot size capsule " + name + ": " + ErrorText(GetLastError());
    return std::nullopt;
  }
  // Far larger than any flash part; refuse before allocating.
  constexpr LONGLONG kMaxCapsuleBytes = 64LL * 1024 * 1024;
  if (size.QuadPart > kMaxCapsuleBytes) {
    why = "capsule " + name + " is too large (" + std::to_string(size.QuadPart) + " bytes)";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  const auto wanted = static_cast<DWORD>(bytes.size());
  if (!ReadFile(file.get(), bytes.data(), wanted, &got, nullptr) || got != wanted) {
    why = "cannot read capsule " + name + ": " + ErrorText(GetLastError());
    return std::nullopt;
  }
  return bytes;
}

Outcome FlashFromCommandLine() {
  const std::vector<std::string> args = ArgumentsAfterOwnPath();
  if (const auto problem = CommandLineProblem(args)) {
    return {kExitBadCommandLine, "bad command line: " + *problem};
  }
  const std::string name = args[kFileNameArg];
  std::string why;
  const auto bytes = ReadCapsule(name, why);
  if (!bytes) return {kExitCannotReadCapsule, why};
  Say(std::string(kBanner) + ": capsule " + name + ", " + std::to_string(bytes->size()) + " bytes");
  if (const auto reason = capsule::CheckCapsule(*bytes)) {
    return {kExitBadCapsule, "bad capsule " + name + ": " + *reason};
  }
  Say("capsule header OK");
  Say("flashing (simulated) ... done");
  return {kExitOk, std::string(kReasonOk)};
}

// A tests' hook that asks for a failing tool: honoured only once the capsule checked out,
// so a bad capsule is still reported as one.
void ApplyForcedExitCode(Outcome& outcome) {
  if (outcome.exit_code != kExitOk) return;
  const auto text = Environment(kExitCodeVariable);
  if (!text) return;
  const auto code = ParseNumber<int>(*text);
  if (!code) {
    Say(std::string(kExitCodeVariable) + "=\"" + *text + "\" is not a number; ignored");
    return;
  }
  outcome.exit_code = *code;
  if (*code != kExitOk) outcome.reason = "failure forced by " + std::string(kExitCodeVariable);
}

// What ended the wait: "" (a plain delay or none), "file" or "bound".
std::string ApplyDelay() {
  const auto text = Environment(kDelayVariable);
  if (!text) return {};
  const auto delay = ParseNumber<DWORD>(*text);
  if (!delay) {
    Say(std::string(kDelayVariable) + "=\"" + *text + "\" is not a number; ignored");
    return {};
  }
  const auto until = Environment(kUntilFileVariable);
  if (!until) {
    Sleep(*delay);
    return {};
  }
  const ULONGLONG deadline = GetTickCount64() + *delay;
  while (GetFileAttributesA(until->c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount64() >= deadline) return "bound";
    Sleep(kUntilFilePollMs);
  }
  return "file";
}

// The wall clock in ms since 1970, the same clock a shell's `date +%s%3N` reads.
std::uint64_t UnixMilliseconds() {
  constexpr std::uint64_t kTicksPerMs = 10000;                   // FILETIME counts 100 ns
  constexpr std::uint64_t kEpochDifferenceMs = 11644473600000;   // 1601-01-01 to 1970-01-01
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / kTicksPerMs - kEpochDifferenceMs;
}

// One line per run, written last: a line in the log means the run reached its end.
void AppendLog(const Outcome& outcome, std::uint64_t startedMs, const std::string& until) {
  const auto path = Environment(kLogVariable);
  if (!path) return;
  const Handle log(CreateFileA(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log.valid()) {
    std::fprintf(stderr, "cannot open %s %s: %s\n", kLogVariable, path->c_str(),
                 ErrorText(GetLastError()).c_str());
    return;
  }
  const std::string line =
      "cmdline=" + std::string(GetCommandLineA()) + "|cwd=" + CurrentDirectory() +
      "|exit=" + std::to_string(outcome.exit_code) + "|reason=" + outcome.reason +
      "|startms=" + std::to_string(startedMs) + (until.empty() ? "" : "|until=" + until) + "\n";
  DWORD written = 0;
  WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void HideConsoleWhenAsked() {
  if (!Environment(kHideConsoleVariable)) return;
  if (const HWND console = GetConsoleWindow()) ShowWindow(console, SW_HIDE);
}

int main() {
  const std::uint64_t startedMs = UnixMilliseconds();
  HideConsoleWhenAsked();
  Outcome outcome = FlashFromCommandLine();
  if (outcome.exit_code != kExitOk)
    std::fprintf(stderr, "%s: %s\n", kBanner.data(), outcome.reason.c_str());
  ApplyForcedExitCode(outcome);
  const std::string until = ApplyDelay();
  AppendLog(outcome, startedMs, until);
  return outcome.exit_code;
}
