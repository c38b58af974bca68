#include "app/working_folder.h"

#include <array>
#include <cstddef>

#include "platform/handle.h"
#include "platform/services.h"

namespace app {
namespace {

// The payload file is opened by nobody else while it is written.
constexpr win::DWORD kNoSharing = 0;

std::optional<std::string> InWorkingFolder(const char* fileName) {
  std::optional<std::string> path = WorkingFolderPath();
  if (!path) return std::nullopt;
  *path += '\\';
  *path += fileName;
  if (path->size() > kMaxPathLength) return std::nullopt;
  return path;
}

// Creates the folder; one that exists already, or a failure, is left for the writer to meet.
void CreateWorkingFolder(const std::string& folder) { win::CreateDirectoryA(folder.c_str(), nullptr); }

// The payload's bytes lie in the image's mapping of the program file, read from it only where
// they are touched. Touching them a page at a time before the file exists costs about 2 ms for the 4 MB
// capsule under Wine; leaving the one large write to fault the pages in from inside the system
// call made that write take 7 to 13 ms. The file is then open only for as long as the writing
// itself takes.
constexpr win::DWORD kPageSize = 4096;
void ReadIntoMemory(const void* bytes, win::DWORD size) {
  const auto* page = static_cast<const volatile unsigned char*>(bytes);
  for (win::DWORD offset = 0; offset < size; offset += kPageSize) static_cast<void>(page[offset]);
}

// Creates the file and writes all bytes in one write. On any failure the file is removed, so
// that a later step can never find (and flash) a partial payload.
PayloadResult WriteWholeFile(const std::string& path, const void* bytes, win::DWORD size) {
  win::UniqueFile file(win::CreateFileA(path.c_str(), win::GENERIC_WRITE, kNoSharing, nullptr,
                                        win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return PayloadResult::WriteFailed;

  win::DWORD written = 0;
  const bool wroteAll =
      win::WriteFile(file.Get(), bytes, size, &written, nullptr) != win::FALSE && written == size;
  const bool closed = file.Close();
  if (wroteAll && closed) return PayloadResult::Written;

  win::DeleteFileA(path.c_str());
  return PayloadResult::WriteFailed;
}

}  // namespace

std::optional<std::string> WorkingFolderPath() {
  std::array<char, win::MAX_PATH> programFiles{};
  if (win::FAILED(win::SHGetFolderPathA(nullptr, win::CSIDL_PROGRAM_FILES, nullptr,
                                        win::SHGFP_TYPE_CURRENT, programFiles.data()))) {
    return std::nullopt;
  }
  programFiles.back() = '\0';
  std::string folder(programFiles.data());
  if (folder.empty()) return std::nullopt;
  folder += '\\';
  folder += kWorkingFolderName;
  if (folder.size() > kMaxPathLength) return std::nullopt;
  return folder;
}

std::optional<std::string> FlashToolPath() { return InWorkingFolder(kFlashToolFileName); }

std::optional<std::string> CapsulePath() { return InWorkingFolder(kCapsuleFileName); }

PayloadResult WritePayload(int resourceId, const std::string& path) {
  const win::HMODULE self = nullptr;  // the program's own resources
  const win::HRSRC found = win::FindResourceA(self, resourceId, kPayloadResourceType);
  if (found == nullptr) return PayloadResult::NotWritten;
  win::UniqueResource loaded(win::LoadResource(self, found));
  if (!loaded.Valid()) return PayloadResult::NotWritten;
  const void* bytes = win::LockResource(loaded.Get());
  const win::DWORD size = win::SizeofResource(self, found);
  // Written from the image as it was loaded, never from the program's file read again by
  // name: its unelevated owner can rename a running program and put any other file under the
  // old name, and the bytes written here are run elevated or flashed.
  if (bytes == nullptr || size == 0) return PayloadResult::NotWritten;

  // An older file that cannot be deleted (held open by another process) stays as it is, and
  // no new copy is written over it.
  if (win::PathExists(path.c_str()) && win::DeleteFileA(path.c_str()) == win::FALSE) {
    return PayloadResult::NotWritten;
  }
  ReadIntoMemory(bytes, size);
  return WriteWholeFile(path, bytes, size);
}

PayloadResult ExtractFlashTool() {
  const std::optional<std::string> folder = WorkingFolderPath();
  const std::optional<std::string> path = FlashToolPath();
  if (!folder || !path) return PayloadResult::NotWritten;
  CreateWorkingFolder(*folder);
  win::DeleteFileA(path->c_str());
  return WritePayload(kFlashToolResourceId, *path);
}

PayloadResult ExtractCapsule(std::string& capsuleName) {
  capsuleName = kCapsuleFileName;
  const std::optional<std::string> folder = WorkingFolderPath();
  const std::optional<std::string> path = CapsulePath();
  if (!folder || !path) return PayloadResult::NotWritten;
  CreateWorkingFolder(*folder);
  win::DeleteFileA(path->c_str());
  return WritePayload(kCapsuleResourceId, *path);
}

void CleanUpWorkingFolder() {
  const std::optional<std::string> folder = WorkingFolderPath();
  if (!folder) return;
  for (const char* fileName : {kFlashToolFileName, kCapsuleFileName}) {
    if (const std::optional<std::string> path = InWorkingFolder(fileName)) {
      win::DeleteFileA(path->c_str());
    }
  }
  win::RemoveDirectoryA(folder->c_str());
}

}  // namespace app
