#include "hex.h"

namespace vexa::vcard {
namespace {
int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string ToHex(const uint8_t* p, size_t n) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 15]);
  }
  return s;
}

std::optional<Bytes> FromHex(std::string_view text, bool allowSpaces) {
  Bytes out;
  out.reserve(text.size() / 2);
  size_t i = 0;
  while (i < text.size()) {
    if (allowSpaces && (text[i] == ' ' || text[i] == ':')) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    int hi = Nibble(text[i]), lo = Nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
  }
  return out;
}

}  // namespace vexa::vcard
