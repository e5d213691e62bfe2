#include "response_parsers.h"

namespace vexa::card {

LONG ParseFileSize(std::span<const BYTE> resp, DWORD* pdwSize) {
  if (!pdwSize) return CARD_ERR_ARGUMENT;
  *pdwSize = 0;
  if (resp.size() < 4) return CARD_ERR_RESPONSE;
  const std::size_t n = resp[3];
  if (n == 0 || n >= 4) return 0;  // no size, or a field the cards do not use
  if (resp.size() < 4 + n) return CARD_ERR_RESPONSE;
  DWORD size = 0;
  for (std::size_t i = 0; i < n; ++i) size = (size << 8) | resp[4 + i];
  *pdwSize = size;
  return 0;
}

DWORD ParsePackages(std::span<const BYTE> resp, PACKAGE* out, DWORD capacity) {
  const DWORD count = static_cast<DWORD>(resp.size() / 6);
  if (out) {
    for (DWORD i = 0; i < count && i < capacity; ++i) {
      out[i].id = resp[i * 6 + 2];
      out[i].version = resp[i * 6 + 3];
    }
  }
  return count;
}

LONG ParseUID(std::span<const BYTE> resp, BYTE out[7]) {
  if (resp.size() < 16) return CARD_ERR_RESPONSE;
  out[0] = 0x05;
  for (int i = 0; i < 6; ++i) out[1 + i] = resp[10 + i];
  return 0;
}

}  // namespace vexa::card
