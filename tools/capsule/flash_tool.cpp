// WinFlash64.exe stand-in: the flash utility the updater runs once every guard has passed.
//
// It takes the one command line the updater is meant to give it, checks the capsule in the
// current directory the way the real tool would refuse a wrong one, and "flashes" nothing.
// Environment hooks (inherited from the updater) let tests see how it was run and make it
// slow or failing:
//   WINFLASH_LOG=path        append  cmdline=...|cwd=...|exit=N|reason=...  per run
//   WINFLASH_DELAY_MS=n      sleep n ms before ending (flashing takes time)
//   WINFLASH_EXIT_CODE=n     end with n after a capsule that checked out
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
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

std::optional<std::string> CommandLineProblem(int argc, char** argv) {
  const auto given = static_cast<std::size_t>(argc > 0 ? argc - 1 : 0);
  if (given != kExpectedArgs.size()) {
    return "expected " + std::to_string(kExpectedArgs.size()) +
           " arguments (/cvar /bbl /sd /file NAME /nodelay), got " + std::to_string(given);
  }
  for (std::size_t i = 0; i < kExpectedArgs.size(); ++i) {
    const std::string_view arg = argv[i + 1];
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

Outcome FlashFromCommandLine(int argc, char** argv) {
  if (const auto problem = CommandLineProblem(argc, argv)) {
    return {kExitBadCommandLine, "bad command line: " + *problem};
  }
  const std::string name = argv[kFileNameArg + 1];
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

void ApplyDelay() {
  const auto text = Environment(kDelayVariable);
  if (!text) return;
  const auto delay = ParseNumber<DWORD>(*text);
  if (!delay) {
    Say(std::string(kDelayVariable) + "=\"" + *text + "\" is not a number; ignored");
    return;
  }
  Sleep(*delay);
}

// One line per run, written last: a line in the log means the run reached its end.
void AppendLog(const Outcome& outcome) {
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
      "|exit=" + std::to_string(outcome.exit_code) + "|reason=" + outcome.reason + "\n";
  DWORD written = 0;
  WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  Outcome outcome = FlashFromCommandLine(argc, argv);
  if (outcome.exit_code != kExitOk)
    std::fprintf(stderr, "%s: %s\n", kBanner.data(), outcome.reason.c_str());
  ApplyForcedExitCode(outcome);
  ApplyDelay();
  AppendLog(outcome);
  return outcome.exit_code;
}
