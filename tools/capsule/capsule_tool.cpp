// capsule-tool: the build's maker of the stand-in capsule and its checker of supplied payloads.
//
//   capsule-tool make OUT               write the stand-in capsule to OUT
//   capsule-tool check FILE             exit 0 when the capsule FILE would be accepted, else
//                                       say why and exit 1
//   capsule-tool check-flash-tool FILE  the same for a flash tool
//   capsule-tool describe FILE          print the capsule's header fields (after the check)
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capsule_format.h"
#include "flash_tool_format.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr int kArgCount = 3;  // tool name, command, path
constexpr int kCommandArg = 1;
constexpr int kPathArg = 2;
constexpr std::string_view kMakeCommand = "make";
constexpr std::string_view kCheckCommand = "check";
constexpr std::string_view kCheckFlashToolCommand = "check-flash-tool";
constexpr std::string_view kDescribeCommand = "describe";
constexpr std::string_view kToolName = "capsule-tool";
constexpr std::string_view kCapsuleKind = "capsule";
constexpr std::string_view kFlashToolKind = "flash tool";
constexpr std::string_view kUsage =
    "usage: capsule-tool make OUT               write the stand-in capsule to OUT\n"
    "       capsule-tool check FILE             check that FILE is an acceptable capsule\n"
    "       capsule-tool check-flash-tool FILE  check that FILE is an acceptable flash tool\n"
    "       capsule-tool describe FILE          print the capsule's header fields\n";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void Complain(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kToolName.data(), message.c_str());
}

std::string LastError() { return std::strerror(errno); }

// fopen/fread rather than iostreams: they leave errno set, so a failure can say why.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  errno = 0;
  const File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    Complain("cannot open " + path + ": " + LastError());
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  constexpr std::size_t kChunkSize = 64 * 1024;
  std::vector<std::uint8_t> chunk(kChunkSize);
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
  }
  if (std::ferror(file.get()) != 0) {
    Complain("cannot read " + path + ": " + LastError());
    return std::nullopt;
  }
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  errno = 0;
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    Complain("cannot create " + path + ": " + LastError());
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  // Closing flushes, so a full disk may only show up here.
  const bool closed = std::fclose(file.release()) == 0;
  if (written && closed) return true;
  Complain("cannot write " + path + ": " + LastError());
  // Never leave a truncated capsule for the build; but only a plain file is ours to delete
  // (OUT may be a device such as /dev/full).
  std::error_code ignored;
  if (std::filesystem::is_regular_file(path, ignored)) std::filesystem::remove(path, ignored);
  return false;
}

int Make(const std::string& out) {
  return WriteWholeFile(out, capsule::MakeCapsule()) ? kExitOk : kExitFailed;
}

using Checker = std::optional<std::string> (*)(std::span<const std::uint8_t>);

// One line naming the file and what is wrong with it, the way the build shows it.
bool Accepted(const std::vector<std::uint8_t>& bytes, Checker checker, std::string_view kind,
              const std::string& path) {
  const auto reason = checker(bytes);
  if (reason) std::fprintf(stderr, "%s %s: %s\n", kind.data(), path.c_str(), reason->c_str());
  return !reason;
}

int Check(const std::string& path, Checker checker, std::string_view kind) {
  const auto bytes = ReadWholeFile(path);
  return bytes && Accepted(*bytes, checker, kind, path) ? kExitOk : kExitFailed;
}

int Describe(const std::string& path) {
  const auto bytes = ReadWholeFile(path);
  if (!bytes || !Accepted(*bytes, capsule::CheckCapsule, kCapsuleKind, path)) return kExitFailed;
  std::fputs(capsule::DescribeCapsule(*bytes).c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == kArgCount) {
    const std::string_view command = argv[kCommandArg];
    const std::string path = argv[kPathArg];
    if (command == kMakeCommand) return Make(path);
    if (command == kCheckCommand) return Check(path, capsule::CheckCapsule, kCapsuleKind);
    if (command == kCheckFlashToolCommand) {
      return Check(path, flash_tool::CheckFlashTool, kFlashToolKind);
    }
    if (command == kDescribeCommand) return Describe(path);
  }
  std::fputs(kUsage.data(), stderr);
  return kExitUsage;
}
