// Lists the resources of a compiled resource file (windres -O res output of an executable):
// one line per resource, "<type> <name> <language> <size>", and for bitmaps also
// "<width>x<height>x<bits>". With "--dump TYPE NAME OUT" it writes that resource's bytes.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kOrdinalMarker = 0xFFFF;
constexpr std::uint16_t kBitmapType = 2;
constexpr std::size_t kAlignment = 4;
constexpr int kUsageError = 2;

struct Resource {
  std::string type;
  std::string name;
  std::uint16_t language;
  std::vector<std::uint8_t> data;
};

class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  bool Has(std::size_t n) const { return pos_ + n <= bytes_.size(); }
  std::size_t Pos() const { return pos_; }
  void Seek(std::size_t pos) { pos_ = pos; }
  void Align() { pos_ = (pos_ + kAlignment - 1) / kAlignment * kAlignment; }
  std::uint16_t U16() {
    const std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  std::uint32_t U32() {
    const std::uint32_t lo = U16();
    return lo | static_cast<std::uint32_t>(U16()) << 16;
  }
  // A type or name: an ordinal (0xFFFF, id) or a NUL-terminated UTF-16 string (ASCII here).
  std::string NameOrId() {
    if (bytes_[pos_] == 0xFF && bytes_[pos_ + 1] == 0xFF) {
      U16();
      return std::to_string(U16());
    }
    std::string text;
    for (std::uint16_t c = U16(); c != 0; c = U16()) text += static_cast<char>(c);
    return "\"" + text + "\"";
  }
  std::vector<std::uint8_t> Take(std::size_t n) {
    std::vector<std::uint8_t> out(bytes_.begin() + static_cast<long>(pos_),
                                  bytes_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    return out;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t pos_ = 0;
};

std::optional<std::vector<Resource>> ReadResources(const std::vector<std::uint8_t>& bytes) {
  std::vector<Resource> resources;
  Reader reader(bytes);
  constexpr std::size_t kFixedHeader = 8;
  while (reader.Has(kFixedHeader)) {
    const std::size_t start = reader.Pos();
    const std::uint32_t dataSize = reader.U32();
    const std::uint32_t headerSize = reader.U32();
    if (!reader.Has(headerSize - kFixedHeader + dataSize)) return std::nullopt;
    Resource r;
    r.type = reader.NameOrId();
    r.name = reader.NameOrId();
    reader.Align();
    reader.U32();  // data version
    reader.U16();  // memory flags
    r.language = reader.U16();
    reader.Seek(start + headerSize);
    r.data = reader.Take(dataSize);
    reader.Align();
    if (dataSize != 0 || r.type != "0") resources.push_back(std::move(r));
  }
  return resources;
}

std::string BitmapShape(const Resource& r) {
  constexpr std::size_t kInfoHeader = 16;
  if (r.type != std::to_string(kBitmapType) || r.data.size() < kInfoHeader) return {};
  Reader reader(r.data);
  reader.U32();  // header size
  const std::int32_t width = static_cast<std::int32_t>(reader.U32());
  const std::int32_t height = static_cast<std::int32_t>(reader.U32());
  reader.U16();  // planes
  const std::uint16_t bits = reader.U16();
  return " " + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(bits);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 6) {
    std::cerr << "usage: res-list FILE.res [--dump TYPE NAME OUT]\n";
    return kUsageError;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  const auto resources = ReadResources(bytes);
  if (!in.good() && !in.eof()) return 1;
  if (!resources) {
    std::cerr << "res-list: " << argv[1] << " is not a resource file\n";
    return 1;
  }
  for (const Resource& r : *resources) {
    if (argc == 6 && r.type == argv[3] && r.name == argv[4]) {
      std::ofstream out(argv[5], std::ios::binary);
      out.write(reinterpret_cast<const char*>(r.data.data()), static_cast<long>(r.data.size()));
      return out.good() ? 0 : 1;
    }
    if (argc == 2) {
      std::cout << r.type << ' ' << r.name << ' ' << r.language << ' ' << r.data.size()
                << BitmapShape(r) << '\n';
    }
  }
  return argc == 2 ? 0 : 1;
}
