// Registry text of card types: the subkey scan must accept any bytes, and ATR
// matching any lengths.
#include <cstdint>
#include <string_view>

#include "card_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> names = vexa::card::CardTypeNames(text);
  vexa::card::CardType t;
  const std::size_t half = size / 2;
  t.atr.assign(data, data + std::min<std::size_t>(half, 33));
  t.mask.assign(data + half, data + half + std::min<std::size_t>(size - half, 33));
  vexa::card::AtrMatches(t, std::span<const BYTE>(data + half, size - half));
  return names.size() > size ? 1 : 0;
}
