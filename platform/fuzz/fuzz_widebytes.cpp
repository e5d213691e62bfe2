// Text and wide byte buffer conversions on arbitrary input: never a crash, and
// whatever converts must convert back to the same thing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vexa/platform/sysstring.h"
#include "vexa/platform/widebytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input as UTF-8 text.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto u16 = vexa::Utf8ToUtf16(text)) {
    auto back = vexa::Utf16ToUtf8(*u16);
    if (!back || *back != text) std::abort();
  }
  vexa::UniqueBstr b(vexa::Utf8ToBstr(text));
  if (b) {
    auto back = vexa::BstrToUtf8(b.get());
    if (!back || *back != text) std::abort();
  }

  // The input as 16-bit units.
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  if (auto utf8 = vexa::Utf16ToUtf8(units)) {
    auto back = vexa::Utf8ToUtf16(*utf8);
    if (!back || *back != units) std::abort();
  }
  if (auto bytes = vexa::WideToBytes(units.data(), static_cast<long>(units.size()))) {
    if (bytes->size() != units.size()) std::abort();
    vexa::UniqueBstr w(vexa::BytesToBstr(*bytes));
    auto again = vexa::BstrToBytes(w.get());
    if (!again || *again != *bytes) std::abort();
  }

  // The input as bytes: always one unit each, always back the same.
  vexa::UniqueBstr w(vexa::BytesToBstr({data, size}));
  if (!w || SysStringLen(w.get()) != size) std::abort();
  auto again = vexa::BstrToBytes(w.get());
  if (!again || again->size() != size || (size && std::memcmp(again->data(), data, size) != 0))
    std::abort();
  return 0;
}
