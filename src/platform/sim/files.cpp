// Files and folders, and the seam calls that reach them.
#include "platform/sim/files.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr const char* kStartFolders[] = {
    "C:", "C:\\Windows", "C:\\Windows\\System32", "C:\\Windows\\SysWOW64", "C:\\Program Files", "C:\\Program Files (x86)",
    "C:\\Users", "C:\\Users\\User", "C:\\Users\\User\\Downloads"};
constexpr const char* kStartDirectory = "C:\\Users\\User\\Downloads";

}  // namespace

FileSystem::FileSystem() : currentDirectory_(kStartDirectory) {
  for (const char* folder : kStartFolders) AddFolder(folder);
}

std::string FileSystem::Normal(std::string_view path) {
  std::string normal(path);
  std::replace(normal.begin(), normal.end(), '/', '\\');
  while (normal.size() > 1 && normal.back() == '\\') normal.pop_back();
  std::transform(normal.begin(), normal.end(), normal.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return normal;
}

std::string FileSystem::Wow64View(const std::string& path, bool wow64Process) {
  constexpr std::string_view kSystem = "C:\\WINDOWS\\SYSTEM32\\";
  constexpr std::string_view kSysnative = "C:\\WINDOWS\\SYSNATIVE\\";
  if (!wow64Process) return path;
  const std::string normal = Normal(path);
  if (normal.starts_with(kSystem)) return "C:\\Windows\\SysWOW64\\" + path.substr(kSystem.size());
  if (normal.starts_with(kSysnative)) return "C:\\Windows\\System32\\" + path.substr(kSysnative.size());
  return path;
}

std::string FileSystem::ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FileSystem::NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void FileSystem::AddFolder(const std::string& path) { folders_.insert(Normal(path)); }

void FileSystem::CreateFolder(const std::string& path) { AddFolder(path); }

void FileSystem::AddFile(const std::string& path, std::string bytes, bool locked) {
  files_[Normal(path)] = File{NameOf(path), std::move(bytes), locked};
}

bool FileSystem::FolderExists(const std::string& path) const { return folders_.count(Normal(path)) != 0; }

bool FileSystem::FileExists(const std::string& path) const { return files_.count(Normal(path)) != 0; }

const File* FileSystem::FileAt(const std::string& path) const {
  const auto it = files_.find(Normal(path));
  return it == files_.end() ? nullptr : &it->second;
}

File* FileSystem::MutableFileAt(const std::string& path) {
  const auto it = files_.find(Normal(path));
  return it == files_.end() ? nullptr : &it->second;
}

bool FileSystem::RemoveFile(const std::string& path) { return files_.erase(Normal(path)) != 0; }

bool FileSystem::RemoveFolder(const std::string& path) { return folders_.erase(Normal(path)) != 0; }

bool FileSystem::IsCurrentDirectory(const std::string& path) const {
  return Normal(currentDirectory_) == Normal(path);
}

std::vector<std::string> FileSystem::FolderEntries(const std::string& folder) const {
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

std::set<std::string> FileSystem::Paths() const {
  std::set<std::string> paths;
  for (const auto& [path, file] : files_) paths.insert(path);
  for (const std::string& folder : folders_) paths.insert(folder + "\\");
  return paths;
}

std::vector<std::string> FileSystem::Match(const std::string& pattern) const {
  const std::string normal = Normal(pattern);
  if (NameOf(normal) == "*") return FolderEntries(ParentOf(normal));
  if (const File* file = FileAt(normal)) return {file->name};
  if (FolderExists(normal)) return {NameOf(pattern)};
  return {};
}

}  // namespace sim

namespace win {
namespace {

using sim::FileSystem;

sim::Machine& M() { return sim::TheMachine(); }
FileSystem& Fs() { return M().files; }

BOOL Fail(DWORD error) {
  M().SetLastError(error);
  return FALSE;
}

DWORD ErrorOr(const sim::Failure& failure, DWORD usual) {
  return failure.error != 0 ? failure.error : usual;
}

void FillFound(const std::string& name, WIN32_FIND_DATAA* found) {
  *found = WIN32_FIND_DATAA{};
  std::strncpy(found->cFileName, name.c_str(), sizeof(found->cFileName) - 1);
  found->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

BOOL CreateDirectoryA(const char* path, void*) {
  M().Log("CreateDirectoryA", {path});
  const std::string normal = FileSystem::Normal(path);
  if (const auto failure = M().Consult("CreateDirectoryA")) return Fail(ErrorOr(*failure, ERROR_ACCESS_DENIED));
  if (Fs().FolderExists(normal) || Fs().FileExists(normal)) return Fail(ERROR_ALREADY_EXISTS);
  if (!Fs().FolderExists(FileSystem::ParentOf(normal))) return Fail(ERROR_PATH_NOT_FOUND);
  Fs().CreateFolder(normal);
  return TRUE;
}

BOOL RemoveDirectoryA(const char* path) {
  M().Log("RemoveDirectoryA", {path});
  if (!Fs().FolderExists(path)) return Fail(ERROR_FILE_NOT_FOUND);
  if (!Fs().FolderEntries(path).empty()) return Fail(ERROR_DIR_NOT_EMPTY);
  // A folder that is some process's current directory is in use.
  if (Fs().IsCurrentDirectory(path)) return Fail(ERROR_SHARING_VIOLATION);
  if (const auto failure = M().Consult("RemoveDirectoryA")) return Fail(ErrorOr(*failure, ERROR_ACCESS_DENIED));
  Fs().RemoveFolder(path);
  return TRUE;
}

BOOL DeleteFileA(const char* path) {
  M().Log("DeleteFileA", {path});
  sim::File* file = Fs().MutableFileAt(path);
  if (file == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  if (file->locked) return Fail(ERROR_SHARING_VIOLATION);
  if (const auto failure = M().Consult("DeleteFileA")) return Fail(ErrorOr(*failure, ERROR_SHARING_VIOLATION));
  Fs().RemoveFile(path);
  return TRUE;
}

bool PathExists(const char* path) {
  M().Log("FindFirstFileA", {path});
  if (M().Consult("FindFirstFileA")) return false;
  const std::string seen = sim::FileSystem::Wow64View(path, M().wow64Process);
  const bool exists = Fs().FileExists(seen) || Fs().FolderExists(seen);
  if (exists) M().Log("FindClose");
  return exists;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* found) {
  M().Log("FindFirstFileA", {pattern});
  if (const auto failure = M().Consult("FindFirstFileA")) {
    Fail(ErrorOr(*failure, ERROR_ACCESS_DENIED));
    return InvalidHandle();
  }
  const std::vector<std::string> names = Fs().Match(pattern);
  if (names.empty()) {
    Fail(ERROR_FILE_NOT_FOUND);
    return InvalidHandle();
  }
  FillFound(names.front(), found);
  // The search remembers where it stands as the count of names already handed out.
  return M().NewHandle("search", std::string(pattern) + "|1");
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) {
  M().Log("FindNextFileA");
  if (M().HandleKind(search) != "search") return Fail(ERROR_INVALID_PARAMETER);
  if (const auto failure = M().Consult("FindNextFileA")) return Fail(ErrorOr(*failure, ERROR_ACCESS_DENIED));
  const std::string target = M().HandleTarget(search);
  const std::size_t bar = target.rfind('|');
  const std::string pattern = target.substr(0, bar);
  const std::size_t next = std::stoul(target.substr(bar + 1));
  const std::vector<std::string> names = Fs().Match(pattern);
  if (next >= names.size()) return Fail(ERROR_NO_MORE_FILES);
  FillFound(names[next], found);
  M().SetHandleTarget(search, pattern + "|" + std::to_string(next + 1));
  return TRUE;
}

BOOL FindClose(HANDLE search) {
  M().Log("FindClose");
  return M().CloseHandleOf(search) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, void*, DWORD disposition,
                   DWORD attributes, HANDLE) {
  M().Log("CreateFileA", {path, access, shareMode, disposition, attributes});
  const std::string normal = FileSystem::Normal(path);
  if (!Fs().FolderExists(FileSystem::ParentOf(normal))) {
    Fail(ERROR_PATH_NOT_FOUND);
    return InvalidHandle();
  }
  if (Fs().FolderExists(normal)) {
    Fail(ERROR_ACCESS_DENIED);
    return InvalidHandle();
  }
  const sim::File* existing = Fs().FileAt(normal);
  if (existing != nullptr && existing->locked) {
    Fail(ERROR_SHARING_VIOLATION);
    return InvalidHandle();
  }
  if (const auto failure = M().Consult("CreateFileA")) {
    Fail(ErrorOr(*failure, ERROR_SHARING_VIOLATION));
    return InvalidHandle();
  }
  Fs().AddFile(path, {});
  return M().NewHandle("file", normal);
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void*) {
  M().Log("WriteFile", {size});
  sim::File* target = Fs().MutableFileAt(M().HandleTarget(file));
  if (M().HandleKind(file) != "file" || target == nullptr) return Fail(ERROR_ACCESS_DENIED);
  const char* bytes = static_cast<const char*>(data);
  if (const auto failure = M().Consult("WriteFile")) {
    // What the test says got onto the disk before the failure (half by default) is there;
    // an error of 0 with a partial count is a short write reported as success.
    const DWORD done = static_cast<DWORD>(failure->partial.value_or(size / 2));
    target->bytes.append(bytes, done < size ? done : size);
    *written = done < size ? done : size;
    if (failure->error == 0 && failure->partial) return TRUE;
    return Fail(ErrorOr(*failure, ERROR_DISK_FULL));
  }
  target->bytes.append(bytes, size);
  *written = size;
  return TRUE;
}

BOOL SetCurrentDirectoryA(const char* path) {
  M().Log("SetCurrentDirectoryA", {path});
  if (const auto failure = M().Consult("SetCurrentDirectoryA")) return Fail(ErrorOr(*failure, ERROR_ACCESS_DENIED));
  if (!Fs().FolderExists(path)) return Fail(ERROR_PATH_NOT_FOUND);
  Fs().SetCurrentDirectory(path);
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  M().Log("GetCurrentDirectoryA");
  const std::string& current = Fs().CurrentDirectory();
  if (const auto failure = M().Consult("GetCurrentDirectoryA")) {
    Fail(ErrorOr(*failure, ERROR_ACCESS_DENIED));
    return 0;
  }
  if (current.size() + 1 > size) return static_cast<DWORD>(current.size() + 1);
  std::memcpy(buffer, current.c_str(), current.size() + 1);
  return static_cast<DWORD>(current.size());
}

}  // namespace win
