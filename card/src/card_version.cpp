// Card OS version checks. The version answer (GET DATA 00 CA 01 82) is read once
// per connection and kept with the card handle it was read on; every check of
// that connection compares against the kept answer.
#include <cstring>

#include "card_guard.h"
#include "vexa/card/card_sm.h"

using vexa::card::Guarded;

LONG CCardSM::ReadVersion(std::array<BYTE, 2>* ver) {
  const SCARDHANDLE h = GetCardHandle();
  if (m_version && h != 0 && h == m_hVersionCard) {
    *ver = *m_version;
    return 0;
  }
  APDU a;
  a.INS = 0xCA;
  a.P1 = 0x01;
  a.P2 = 0x82;
  a.Le = 0x02;
  BYTE resp[255];
  BYTE len = sizeof resp;
  const LONG rc = Send(a, resp, &len);
  if (rc != 0) return rc;
  std::array<BYTE, 2> v{};  // a shorter answer matches no version
  if (len >= 2) std::memcpy(v.data(), resp, 2);
  m_version = v;
  m_hVersionCard = h;
  *ver = v;
  return 0;
}

// strictness 0: a failing query returns its error or status word (IsM3, IsM4);
// 1: a transmission error is returned, a status word gives 0.
long CCardSM::CheckedVersion(BYTE b1, BYTE b2, int strictness) {
  std::array<BYTE, 2> v{};
  const LONG rc = ReadVersion(&v);
  if (rc != 0) {
    if (strictness == 0 || rc < 0) return rc;
    return 0;
  }
  return (v[0] == b1 && v[1] == b2) ? 1 : 0;
}

LONG CCardSM::IsM3() {
  return Guarded([&]() -> LONG { return CheckedVersion(0xC8, 0x01, 0); });
}
LONG CCardSM::IsM4() {
  return Guarded([&]() -> LONG { return CheckedVersion(0xC8, 0x02, 0); });
}
LONG CCardSM::IsM401() {
  return Guarded([&]() -> LONG { return CheckedVersion(0xC8, 0x03, 1); });
}
LONG CCardSM::IsM401a() {
  return Guarded([&]() -> LONG { return CheckedVersion(0xC8, 0x04, 1); });
}
LONG CCardSM::IsM410() {
  return Guarded([&]() -> LONG { return CheckedVersion(0xC8, 0x05, 1); });
}
LONG CCardSM::IsM420() {
  return Guarded([&]() -> LONG { return CheckedVersion(0xC8, 0x06, 1); });
}
LONG CCardSM::IsM42b() {
  return Guarded([&]() -> LONG {
    const long a = CheckedVersion(0xC8, 0x09, 1);
    if (a != 0) return a;
    return CheckedVersion(0xC8, 0x0A, 1);
  });
}
LONG CCardSM::IsM440() {
  return Guarded([&]() -> LONG {
    const long a = CheckedVersion(0xC8, 0x0D, 1);
    if (a != 0) return a;
    return CheckedVersion(0xC8, 0x0A, 1);
  });
}

LONG CCardSM::M420_32_64(DWORD* pdwKB) {
  return Guarded([&]() -> LONG {
    if (!pdwKB) return CARD_ERR_ARGUMENT;
    APDU a;
    a.INS = 0xCA;
    a.P1 = 0x01;
    a.P2 = 0x89;
    a.Le = 0x06;
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Send(a, resp, &len);
    if (rc != 0) return rc;
    *pdwKB = (len >= 4 && resp[2] == 0x00 && resp[3] == 0x40) ? 64 : 32;
    return 1;
  });
}
