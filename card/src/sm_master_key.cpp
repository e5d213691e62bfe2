#include "sm_master_key.h"

#include <array>
#include <vector>

#include "vexa/platform/registry.h"

namespace vexa::card {

namespace {

// The default master key is kept split into two shares and assembled only when
// a key is derived, so that its bytes never stand in the library as one run.
constexpr std::array<BYTE, 24> kShareA = {
    0x5A, 0xC3, 0x96, 0x3C, 0xE1, 0x0F, 0x78, 0xA5, 0x69, 0xD2, 0x4B, 0xB4,
    0x1E, 0x87, 0xF0, 0x2D, 0x96, 0x5A, 0xC3, 0x3C, 0xA5, 0x0F, 0xE1, 0x78};
// kShareA XOR the default key.
constexpr std::array<BYTE, 24> kShareB = {
    0x71, 0xBD, 0x83, 0x2A, 0xC9, 0xA1, 0xAA, 0x03, 0xC2, 0x25, 0x5E, 0x3C,
    0x17, 0x48, 0xBF, 0x11, 0xE0, 0x74, 0xB2, 0x5C, 0x56, 0x84, 0xAC, 0xDD};

}  // namespace

SecureBytes LoadSMMasterKey() {
  std::vector<BYTE> value;
  DWORD type = 0;
  if (RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "SMMasterKey", value, &type) == 0 &&
      type == REG_BINARY && value.size() == 24) {
    SecureBytes key(value.begin(), value.end());
    SecureWipe(value.data(), value.size());
    return key;
  }
  if (!value.empty()) SecureWipe(value.data(), value.size());
  SecureBytes key(24);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = kShareA[i] ^ kShareB[i];
  return key;
}

}  // namespace vexa::card
