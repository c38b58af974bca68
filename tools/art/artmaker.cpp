// artmaker OUTDIR: writes the progress mark and the icon that the resource script embeds
// (mark132.bmp, icon128.ico). The backgrounds are finished pictures in res/art.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "art.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kArgCount = 2;  // tool name, output folder
constexpr int kOutDirArg = 1;
constexpr const char* kUsage =
    "usage: artmaker OUTDIR   write the progress mark and the icon into OUTDIR\n";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void Complain(const std::string& what, const std::string& path) {
  std::fprintf(stderr, "artmaker: cannot %s %s: %s\n", what.c_str(), path.c_str(),
               std::strerror(errno));
}

// A failed write removes the file, so the resource compiler never picks up half a picture.
bool WritePicture(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  errno = 0;
  File file(std::fopen(path.string().c_str(), "wb"));
  if (!file) {
    Complain("create", path.string());
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const bool closed = std::fclose(file.release()) == 0;
  if (written && closed) return true;
  Complain("write", path.string());
  std::error_code ignored;
  if (std::filesystem::is_regular_file(path, ignored)) std::filesystem::remove(path, ignored);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != kArgCount) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::filesystem::path out_dir = argv[kOutDirArg];
  std::error_code error;
  std::filesystem::create_directories(out_dir, error);
  if (error) {
    std::fprintf(stderr, "artmaker: cannot create folder %s: %s\n", out_dir.string().c_str(),
                 error.message().c_str());
    return kExitFailed;
  }
  for (const art::Picture& picture : art::MakeAllPictures()) {
    if (!WritePicture(out_dir / picture.file_name, picture.bytes)) return kExitFailed;
  }
  return kExitOk;
}
