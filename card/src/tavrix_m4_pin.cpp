// CTavrixM4: PIN verification (plain, chained, PIN pad, match-on-card), PIN
// change, unblocking and PIN objects.
#include <algorithm>
#include <cstring>

#include "command_builder.h"
#include "vexa/card/tavrix_m4.h"

using vexa::card::Command;
using vexa::card::Run;

namespace {
constexpr DWORD kVerifyPart = 100;
}

LONG CTavrixM4::cmdVERIFY(BYTE bRef, const BYTE* pbPin, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdVERIFY", [&]() -> LONG {
    if (!pbPin) return CARD_ERR_ARGUMENT;
    if (dwLen == 0) {
      // Up to the terminating zero; a PIN longer than a command can carry is refused.
      const void* end = std::memchr(pbPin, 0, vexa::card::kMaxShortData + 1);
      if (!end) return CARD_ERR_TOO_LONG;
      dwLen = static_cast<DWORD>(static_cast<const BYTE*>(end) - pbPin);
    }
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0x20, 0x00, static_cast<BYTE>(bRef | 0x80));
    c.Add(std::span<const BYTE>(pbPin, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdVERIFYex(BYTE bRef, const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdVERIFYex", [&]() -> LONG {
    if (!pbData || dwLen == 0) return CARD_ERR_ARGUMENT;
    for (DWORD done = 0; done < dwLen;) {
      const DWORD part = std::min(kVerifyPart, dwLen - done);
      const bool last = done + part == dwLen;
      Command c(last ? 0x00 : 0x10, 0x20, 0x00, static_cast<BYTE>(bRef | 0x80));
      c.Add(std::span<const BYTE>(pbData + done, part));
      const LONG rc = Transmit(c, pSM);
      if (rc != 0) return rc;
      done += part;
    }
    return 0;
  });
}

LONG CTavrixM4::cmdVERIFYPinPadOn(BYTE bRef) {
  return Run("CTavrixM4::cmdVERIFYPinPadOn", [&]() -> LONG { return PinPadVerify(bRef); });
}

LONG CTavrixM4::cmdVERIFYSMOC(BYTE bRef, std::span<const BYTE> record) {
  return Run("CTavrixM4::cmdVERIFYSMOC", [&]() -> LONG {
    if (record.size() < 720) return CARD_ERR_ARGUMENT;
    for (DWORD off = 0; off <= 700; off += kVerifyPart) {
      const bool last = off == 700;
      Command c(last ? 0x00 : 0x10, 0x20, 0x00, static_cast<BYTE>(bRef | 0x80));
      c.Add(record.subspan(off, last ? 20 : kVerifyPart));
      const LONG rc = Transmit(c, nullptr);
      if (rc != 0) return rc;
    }
    return 0;
  });
}

LONG CTavrixM4::ChangePin(BYTE bRef, const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::ChangePin", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0x24, 0x01, static_cast<BYTE>(bRef | 0x80));
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdCHANGE_REFERENCE_DATA(BYTE bRef, t_OBJCLASS cls, const BYTE* pbData,
                                         DWORD dwLen, BYTE bMech1, BYTE bMech2,
                                         const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdCHANGE_REFERENCE_DATA", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0x24, static_cast<BYTE>(bMech1 | static_cast<BYTE>(cls * 2)),
              static_cast<BYTE>(bRef | bMech2));
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdRESET_RETRY_COUNTER(BYTE bRef, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdRESET_RETRY_COUNTER", [&]() -> LONG {
    const LONG rc = PhaseIfNotOperational();
    if (rc != 0) return rc;
    Command c(0x00, 0x2C, 0x03, static_cast<BYTE>(bRef | 0x80));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdRESET_RETRY_COUNTER(BYTE bP1, BYTE bRef, const BYTE* pbData, DWORD dwLen,
                                       const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdRESET_RETRY_COUNTER", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0x2C, bP1, static_cast<BYTE>(bRef | 0x80));
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Init_PINex(BYTE bRef, const BYTE* pbPin, DWORD dwLen, t_DEVICE device,
                           t_OBJCLASS cls, BOOL bFlag, const BSAC* pAC, const BSSM* pSMC,
                           const SMFLAGS* pSM) {
  return Run("CTavrixM4::Init_PINex", [&]() -> LONG {
    if (!pbPin && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > 0xFF) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6E);
    c.Add({0x83, 0x02, static_cast<BYTE>(cls), bRef});
    c.Add({0x85, 0x08, static_cast<BYTE>(bFlag ? 0x03 : 0x23), 0x0F, device, 0x4F, 0xFF, 0xFF,
           0xFF, 0x07});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 7, 0x00);
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
    c.Tlv(0x8F, std::span<const BYTE>(pbPin, dwLen));
    if (!c.Fits()) return CARD_ERR_TOO_LONG;
    return Transmit(c, pSM);
  });
}
