// write_probe.exe: the updater's capsule write, alone.
//
// Usage: write_probe PROGRAM_PATH OUT_PATH
//
// Loads PROGRAM_PATH (BIOSUpdate.exe) as an image, as the system loads a program, takes its
// payload resource "File" 177 and writes it to OUT_PATH as the updater writes it: its pages
// read in first, then one CreateFileA (CREATE_ALWAYS, no sharing), one WriteFile of the whole
// resource, CloseHandle.
// The benchmarks time the file's creation to its close from outside; next to the same write
// inside a whole run, it tells the write's own cost from that of the moment it is done at.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoResource = 3;
constexpr int kExitNotWritten = 4;
constexpr int kArgumentCount = 3;  // the program's own name and two arguments
constexpr WORD kCapsuleResourceId = 177;
constexpr const char* kPayloadResourceType = "File";
constexpr DWORD kNoSharing = 0;
constexpr DWORD kPageSize = 4096;

}  // namespace

int main(int argc, char** argv) {
  if (argc != kArgumentCount) {
    std::fprintf(stderr, "usage: write_probe PROGRAM_PATH OUT_PATH\n");
    return kExitUsage;
  }
  // As an image, its imports not resolved: the sections lie in memory as in the running program.
  const HMODULE program = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  const HRSRC found =
      program != nullptr ? FindResourceA(program, MAKEINTRESOURCEA(kCapsuleResourceId), kPayloadResourceType) : nullptr;
  const HGLOBAL loaded = found != nullptr ? LoadResource(program, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  const DWORD size = found != nullptr ? SizeofResource(program, found) : 0;
  if (bytes == nullptr || size == 0) {
    std::fprintf(stderr, "write_probe: no resource %s %u in %s\n", kPayloadResourceType, kCapsuleResourceId, argv[1]);
    return kExitNoResource;
  }
  const auto* page = static_cast<const volatile unsigned char*>(bytes);
  for (DWORD offset = 0; offset < size; offset += kPageSize) static_cast<void>(page[offset]);
  const HANDLE file =
      CreateFileA(argv[2], GENERIC_WRITE, kNoSharing, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "write_probe: cannot create %s (error %lu)\n", argv[2], GetLastError());
    return kExitNotWritten;
  }
  DWORD written = 0;
  const bool wroteAll = WriteFile(file, bytes, size, &written, nullptr) != FALSE && written == size;
  const bool closed = CloseHandle(file) != FALSE;
  return wroteAll && closed ? kExitOk : kExitNotWritten;
}
