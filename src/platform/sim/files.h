// Files and folders of the simulated machine. Paths are case-insensitive and "\" separated;
// a file keeps its name as spelled when it was created.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct File {
  std::string name;  // as spelled when it was created
  std::string bytes;
  bool locked = false;  // held open by another process: cannot be deleted or replaced
};

class FileSystem {
 public:
  FileSystem();

  // ----- for tests -----
  void AddFolder(const std::string& path);
  void AddFile(const std::string& path, std::string bytes, bool locked = false);
  bool FolderExists(const std::string& path) const;
  bool FileExists(const std::string& path) const;
  const File* FileAt(const std::string& path) const;
  std::vector<std::string> FolderEntries(const std::string& folder) const;
  // Every folder and file on the machine, folders marked with a trailing "\".
  std::set<std::string> Paths() const;
  // The process's current directory.
  const std::string& CurrentDirectory() const { return currentDirectory_; }
  void SetCurrentDirectory(std::string path) { currentDirectory_ = std::move(path); }
  // Folders that cannot be removed while the given process-wide directory holds them.
  bool IsCurrentDirectory(const std::string& path) const;

  // ----- for the services -----
  static std::string Normal(std::string_view path);
  // The file a 32-bit process on 64-bit Windows reaches by that path: System32 is its
  // SysWOW64, and the 64-bit System32 is reached through the virtual Sysnative folder, which
  // a 64-bit process does not have.
  static std::string Wow64View(const std::string& path, bool wow64Process);
  static std::string ParentOf(const std::string& path);
  static std::string NameOf(const std::string& path);
  bool RemoveFile(const std::string& path);
  bool RemoveFolder(const std::string& path);
  void CreateFolder(const std::string& path);
  File* MutableFileAt(const std::string& path);
  // The files in a folder whose names match a pattern without wildcards, or with "*" alone.
  std::vector<std::string> Match(const std::string& pattern) const;

 private:
  std::map<std::string, File> files_;
  std::set<std::string> folders_;
  std::string currentDirectory_;
};

}  // namespace sim
