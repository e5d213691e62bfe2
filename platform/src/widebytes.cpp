#include "vexa/platform/widebytes.h"

#include <array>

namespace vexa {

namespace {

// Windows-1252 characters of the bytes 0x80..0x9F; 0 where the code page has
// none (those bytes travel as the units 0x81, 0x8D, ... themselves).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

template <class Out>
std::optional<Out> UnitsToBytes(const WCHAR* units, long len) {
  if (len < 0 || (units == nullptr && len > 0)) return std::nullopt;
  Out out(static_cast<std::size_t>(len), 0);
  for (long i = 0; i < len; ++i) {
    auto b = UnitToByte(units[i]);
    if (!b) return std::nullopt;
    out[static_cast<std::size_t>(i)] = *b;
  }
  return out;
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::optional<BYTE> UnitToByte(WCHAR unit) noexcept {
  if (unit <= 0xFF) return static_cast<BYTE>(unit);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == unit) return static_cast<BYTE>(0x80 + i);
  return std::nullopt;
}

BSTR BytesToBstr(std::span<const BYTE> bytes) noexcept {
  if (bytes.size() > 0x3FFFFFF0u) return nullptr;
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(bytes.size()));
  if (b == nullptr) return nullptr;
  for (std::size_t i = 0; i < bytes.size(); ++i) b[i] = bytes[i];
  return b;
}

std::optional<std::vector<BYTE>> WideToBytes(const WCHAR* units, long len) {
  return UnitsToBytes<std::vector<BYTE>>(units, len);
}

std::optional<SecureBytes> WideToSecureBytes(const WCHAR* units, long len) {
  return UnitsToBytes<SecureBytes>(units, len);
}

std::optional<std::vector<BYTE>> BstrToBytes(BSTR s) {
  return WideToBytes(s, static_cast<long>(SysStringLen(s)));
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    std::size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      n = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      n = 4;
    } else {
      return std::nullopt;  // a continuation byte first, C0/C1 overlong leads, F5..FF
    }
    if (text.size() - i < n) return std::nullopt;
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if (!IsContinuation(cc)) return std::nullopt;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return std::nullopt;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return std::nullopt;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

BSTR Utf8ToBstr(std::string_view text) noexcept {
  try {
    auto units = Utf8ToUtf16(text);
    if (!units || units->size() > 0x3FFFFFF0u) return nullptr;
    return SysAllocStringLen(units->data(), static_cast<UINT>(units->size()));
  } catch (...) {
    return nullptr;
  }
}

std::optional<std::string> BstrToUtf8(BSTR s) {
  return Utf16ToUtf8(std::u16string_view(s == nullptr ? u"" : s, SysStringLen(s)));
}

}  // namespace vexa
