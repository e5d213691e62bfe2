// The order of CRSA's virtual operations is part of the interface between
// libraries (callers reach them through the object's table): each operation
// must sit in its slot. With the Itanium C++ ABI a pointer to a virtual member
// function holds 1 + the byte offset of its slot in the table.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "vexa/crypto/rsa.h"

namespace {

template <class M>
std::ptrdiff_t Slot(M member) {
  static_assert(sizeof(M) == 2 * sizeof(std::ptrdiff_t));
  std::ptrdiff_t raw[2];
  std::memcpy(raw, &member, sizeof raw);
  return (raw[0] & 1) ? (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)) : -1;
}

// The protected and private operations are reached through a derived class.
struct Probe : CRSA {
  static std::vector<std::ptrdiff_t> Hidden() {
    return {Slot(&Probe::SaveKeyToFile), Slot(&Probe::ReadKeyFromFile), Slot(&Probe::CheckKeys)};
  }
};

TEST(RsaInterface, VirtualOperationsSitInTheirSlots) {
  using BytesInit = long (CRSA::*)(unsigned char*, long, unsigned char*, long);
  using FileInit = long (CRSA::*)(char*, long);
  using MemSave = long (CRSA::*)(unsigned char**, unsigned long&, unsigned char**, unsigned long&);
  const std::vector<std::ptrdiff_t> slots = {
      Slot(&CRSA::RawVerify),
      Slot(&CRSA::RawSign),
      Slot(static_cast<BytesInit>(&CRSA::InitPBK)),
      Slot(static_cast<FileInit>(&CRSA::InitPBK)),
      Slot(static_cast<BytesInit>(&CRSA::InitPVK)),
      Slot(static_cast<FileInit>(&CRSA::InitPVK)),
      Slot(&CRSA::InitKeys),
      Slot(&CRSA::InitKeysFromEVPKEY),
      Slot(static_cast<MemSave>(&CRSA::SavePVK)),
      Slot(static_cast<FileInit>(&CRSA::SavePVK)),
      Slot(static_cast<MemSave>(&CRSA::SavePBK)),
      Slot(static_cast<FileInit>(&CRSA::SavePBK)),
      Slot(&CRSA::Decrypt),
      Slot(&CRSA::Encrypt),
      Slot(&CRSA::PublicDecrypt),
      Slot(&CRSA::Sign),
      Slot(&CRSA::Verify),
      Slot(&CRSA::GetKeySize),
      Slot(&CRSA::GetEVP_PKEY),
      Slot(&CRSA::IsPvkKey),
      Slot(&CRSA::IsPbkKey),
      Slot(&CRSA::GenKeys),
  };
  for (std::size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i)) << i;
  // AllocRSA and AllocSeed (private) hold slots 22 and 23; then these three.
  const auto hidden = Probe::Hidden();
  EXPECT_EQ(hidden, (std::vector<std::ptrdiff_t>{24, 25, 26}));
}

}  // namespace
