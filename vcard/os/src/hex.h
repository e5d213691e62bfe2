// Hexadecimal text of byte strings (the image file and the tools use it).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

std::string ToHex(const uint8_t* p, size_t n);
template <class C>
std::string ToHex(const C& c) {
  return ToHex(c.data(), c.size());
}
// Strict: an even number of hexadecimal digits, nothing else; spaces are allowed
// between byte pairs only when allowSpaces is set.
std::optional<Bytes> FromHex(std::string_view text, bool allowSpaces = false);

}  // namespace vexa::vcard
