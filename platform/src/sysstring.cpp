#include "vexa/platform/sysstring.h"

#include <cstdlib>
#include <cstring>

#include "vexa/platform/secure.h"

namespace {

constexpr std::size_t kPrefix = sizeof(uint32_t);
// The byte length must fit the 32-bit prefix with the terminator after it.
constexpr std::size_t kMaxBytes = 0x7FFFFFF0u;

// Allocates prefix + bytes + a zero unit (and a pad byte for an odd length),
// zero-filled, and returns the pointer just after the prefix.
BSTR AllocateBytes(std::size_t bytes) noexcept {
  if (bytes > kMaxBytes) return nullptr;
  const std::size_t total = kPrefix + bytes + (bytes & 1u) + sizeof(OLECHAR);
  void* block = std::calloc(1, total);
  if (block == nullptr) return nullptr;
  const uint32_t len = static_cast<uint32_t>(bytes);
  std::memcpy(block, &len, sizeof len);
  return reinterpret_cast<BSTR>(static_cast<unsigned char*>(block) + kPrefix);
}

void* BlockOf(BSTR s) noexcept { return reinterpret_cast<unsigned char*>(s) - kPrefix; }

std::size_t UnitsTo(const OLECHAR* s) noexcept {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) noexcept {
  if (len > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  BSTR b = AllocateBytes(std::size_t{len} * sizeof(OLECHAR));
  if (b != nullptr && s != nullptr && len > 0) std::memmove(b, s, std::size_t{len} * sizeof(OLECHAR));
  return b;
}

BSTR SysAllocString(const OLECHAR* s) noexcept {
  if (s == nullptr) return nullptr;
  const std::size_t n = UnitsTo(s);
  if (n > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(s, static_cast<UINT>(n));
}

BSTR SysAllocStringByteLen(const char* s, UINT len) noexcept {
  BSTR b = AllocateBytes(len);
  if (b != nullptr && s != nullptr && len > 0) std::memmove(b, s, len);
  return b;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* s, UINT len) noexcept {
  if (pbstr == nullptr) return FALSE;
  // The new string is made before the old one goes: s may point into it.
  BSTR fresh = SysAllocStringLen(s, len);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* s) noexcept {
  if (pbstr == nullptr) return FALSE;
  if (s == nullptr) return SysReAllocStringLen(pbstr, nullptr, 0);
  const std::size_t n = UnitsTo(s);
  if (n > kMaxBytes / sizeof(OLECHAR)) return FALSE;
  return SysReAllocStringLen(pbstr, s, static_cast<UINT>(n));
}

UINT SysStringByteLen(BSTR s) noexcept {
  if (s == nullptr) return 0;
  uint32_t len;
  std::memcpy(&len, BlockOf(s), sizeof len);
  return len;
}

UINT SysStringLen(BSTR s) noexcept { return SysStringByteLen(s) / sizeof(OLECHAR); }

void SysFreeString(BSTR s) noexcept {
  if (s == nullptr) return;
  const std::size_t bytes = SysStringByteLen(s);
  const std::size_t total = kPrefix + bytes + (bytes & 1u) + sizeof(OLECHAR);
  vexa::SecureWipe(BlockOf(s), total);
  std::free(BlockOf(s));
}
