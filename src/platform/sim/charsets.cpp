#include "platform/sim/charsets.h"

#include <iconv.h>

namespace sim {

std::optional<std::string> Convert(std::string_view text, const char* from, const char* to) {
  constexpr std::size_t kMostBytesPerByte = 4;
  const iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string in(text);
  std::string out(in.size() * kMostBytesPerByte, '\0');
  char* source = in.data();
  char* target = out.data();
  std::size_t inLeft = in.size();
  std::size_t outLeft = out.size();
  const bool converted = iconv(converter, &source, &inLeft, &target, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(converter);
  if (!converted || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

std::string Utf8(const char16_t* wide) {
  std::size_t count = 0;
  while (wide[count] != 0) ++count;
  const std::string_view bytes(reinterpret_cast<const char*>(wide), count * sizeof(char16_t));
  return Convert(bytes, kWideCharset, kUtf8Charset).value_or("?");
}

}  // namespace sim
