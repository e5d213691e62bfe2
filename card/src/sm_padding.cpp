// Padding of secure-messaging data: ISO/IEC 9797-1 methods 2 ("ISO": 80 then
// zeros, always at least one byte) and 1 ("ANSI": zeros up to a block).
#include <cstring>

#include "vexa/card/card_sm.h"

namespace {
constexpr DWORD kBlock = 8;
}

DWORD CCardSM::LenPadISO(DWORD n) { return n - (n % kBlock) + kBlock; }

DWORD CCardSM::LenPadANSI(DWORD n) { return (n % kBlock) == 0 ? n : n - (n % kBlock) + kBlock; }

long CCardSM::MKPadISO(std::span<const BYTE> data, std::span<BYTE> out) {
  const DWORD padded = LenPadISO(static_cast<DWORD>(data.size()));
  if (out.size() < padded) return -1;
  if (!data.empty()) std::memmove(out.data(), data.data(), data.size());
  out[data.size()] = 0x80;
  std::memset(out.data() + data.size() + 1, 0, padded - data.size() - 1);
  return static_cast<long>(padded);
}

long CCardSM::MKPadANSI(std::span<const BYTE> data, std::span<BYTE> out) {
  const DWORD padded = LenPadANSI(static_cast<DWORD>(data.size()));
  if (out.size() < padded) return -1;
  if (!data.empty()) std::memmove(out.data(), data.data(), data.size());
  std::memset(out.data() + data.size(), 0, padded - data.size());
  return static_cast<long>(padded);
}

long CCardSM::RMPadISO(std::span<const BYTE> data) {
  // From the end: at most 8 zero bytes, then the 80 marker (within 9 bytes).
  std::size_t i = data.size();
  std::size_t zeros = 0;
  while (i > 0) {
    const BYTE b = data[i - 1];
    if (b == 0x80) return static_cast<long>(i - 1);
    if (b != 0x00 || zeros == 8) return -1;
    ++zeros;
    --i;
  }
  return -1;
}

long CCardSM::RMPadANSI(std::span<const BYTE> data) {
  std::size_t i = data.size();
  std::size_t zeros = 0;
  while (i > 0 && data[i - 1] == 0x00) {
    if (++zeros == kBlock) return -1;
    --i;
  }
  if (i == 0) return -1;
  return static_cast<long>(i);
}
