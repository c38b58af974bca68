// The working folder under the program-files folder, the two payloads the program carries as
// resources, and their removal.
#pragma once

#include <optional>
#include <string>

namespace app {

inline constexpr const char* kWorkingFolderName = "BIOSUPDATE";
inline constexpr const char* kFlashToolFileName = "WinFlash64.exe";
inline constexpr const char* kCapsuleFileName = "47K31RB4.cap";
inline constexpr const char* kPayloadResourceType = "File";
inline constexpr int kFlashToolResourceId = 172;
inline constexpr int kCapsuleResourceId = 177;
// Paths are composed in MAX_PATH buffers: at most 259 characters and the terminating NUL.
inline constexpr std::size_t kMaxPathLength = 259;

// The program-files folder followed by "\BIOSUPDATE", composed afresh at every call. Empty
// when the system reports no program-files folder or the path would not fit.
std::optional<std::string> WorkingFolderPath();
std::optional<std::string> FlashToolPath();
std::optional<std::string> CapsulePath();

enum class PayloadResult {
  Written,
  // Nothing was written and nothing changed: the resource is missing, cannot be loaded or is
  // empty, no path could be composed, or an existing file could not be deleted.
  NotWritten,
  // The file could not be created, written in full or closed. Whatever had been created is
  // removed again, so no partial payload (a truncated capsule) is left to be found later.
  WriteFailed,
};

// Writes the resource of type "File" with the given id to the path, replacing an older file.
PayloadResult WritePayload(int resourceId, const std::string& path);

// Creates the working folder and writes the flash tool into it.
PayloadResult ExtractFlashTool();
// Sets capsuleName to "47K31RB4.cap" (also when writing fails), creates the working folder
// and writes the capsule into it.
PayloadResult ExtractCapsule(std::string& capsuleName);
// Deletes both payloads and then the folder, which goes only when nothing else is left in
// it. Every failure is ignored.
void CleanUpWorkingFolder();

}  // namespace app
