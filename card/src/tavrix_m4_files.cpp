// CTavrixM4: file selection, transparent and record files, file creation and
// deletion.
#include <algorithm>
#include <cstring>

#include "command_builder.h"
#include "response_parsers.h"
#include "vexa/card/tavrix_m4.h"

using vexa::card::Command;
using vexa::card::Hi;
using vexa::card::Lo;
using vexa::card::Run;

namespace {

constexpr DWORD kStep = 112;  // READ/UPDATE BINARY part (Le / Lc 0x70)

// The data field of SELECT FILE for a mode, or false for an unsupported mode.
LONG SelectData(t_PARAM mode, const BYTE* pbId, DWORD dwLen, Command& c) {
  switch (mode) {
    case 0:
    case 1:
    case 2:
      if (!pbId || dwLen < 2) return CARD_ERR_ARGUMENT;
      c.Add({pbId[0], pbId[1]});
      return 0;
    case 3:
      return 0;
    case 4:
    case 8:
      if (dwLen == 2 && pbId && pbId[0] == 0x3F && pbId[1] == 0x00) return 0;  // the MF
      [[fallthrough]];
    case 9:
      if (dwLen && !pbId) return CARD_ERR_ARGUMENT;
      if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
      c.Add(std::span<const BYTE>(pbId, dwLen));
      return 0;
    default:
      return CARD_ERR_SELECT_MODE;
  }
}

}  // namespace

LONG CTavrixM4::cmdSELECT_FILE(t_PARAM mode, const BYTE* pbId, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdSELECT_FILE", [&]() -> LONG {
    Command c(0x00, 0xA4, static_cast<BYTE>(mode), 0x00);
    const LONG rc = SelectData(mode, pbId, dwLen, c);
    if (rc != 0) return rc;
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdGET_FILE_SIZE(t_PARAM mode, const BYTE* pbId, DWORD dwLen, DWORD* pdwSize,
                                 const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdGET_FILE_SIZE", [&]() -> LONG {
    if (!pdwSize) return CARD_ERR_ARGUMENT;
    Command c(0x00, 0xA4, static_cast<BYTE>(mode), 0x00, 0x10);
    LONG rc = SelectData(mode, pbId, dwLen, c);
    if (rc != 0) return rc;
    BYTE resp[255];
    BYTE len = sizeof resp;
    rc = Transmit(c, pSM, resp, &len);
    if (rc != 0) return rc;
    if (pSM) {  // a protected answer is not examined
      *pdwSize = 0;
      return 0;
    }
    return vexa::card::ParseFileSize({resp, len}, pdwSize);
  });
}

LONG CTavrixM4::cmdREAD_BINARY(BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdREAD_BINARY", [&]() -> LONG {
    if (!pdwLen || (*pdwLen && !pbBuf)) return CARD_ERR_ARGUMENT;
    const DWORD want = *pdwLen;
    if (want > 0x10000) return CARD_ERR_ARGUMENT;
    DWORD done = 0;
    while (done < want) {
      const DWORD part = std::min(kStep, want - done);
      APDU a;
      a.INS = 0xB0;
      a.P1 = Hi(done);
      a.P2 = Lo(done);
      a.Le = static_cast<BYTE>(part);
      BYTE resp[255];
      BYTE len = sizeof resp;
      const LONG rc = Transmit(a, pSM, resp, &len);
      if (rc != 0) {
        *pdwLen = done;
        return rc;
      }
      const DWORD got = std::min<DWORD>(len, part);
      std::memcpy(pbBuf + done, resp, got);
      done += got;
      if (got < part) {  // the card gave less than it was asked for
        *pdwLen = done;
        return CARD_ERR_RESPONSE;
      }
    }
    *pdwLen = done;
    return 0;
  });
}

LONG CTavrixM4::cmdUPDATE_BINARY(const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdUPDATE_BINARY", [&]() -> LONG {
    if (dwLen && !pbData) return CARD_ERR_ARGUMENT;
    if (dwLen > 0x10000) return CARD_ERR_ARGUMENT;
    for (DWORD done = 0; done < dwLen;) {
      const DWORD part = std::min(kStep, dwLen - done);
      Command c(0x00, 0xD6, Hi(done), Lo(done));
      c.Add(std::span<const BYTE>(pbData + done, part));
      const LONG rc = Transmit(c, pSM);
      if (rc != 0) return rc;
      done += part;
    }
    return 0;
  });
}

LONG CTavrixM4::cmdAPPEND_RECORD(const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdAPPEND_RECORD", [&]() -> LONG {
    if ((dwLen && !pbData)) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xE2, 0x00, 0x00);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdUPDATE_RECORD(BYTE bRec, const BYTE* pbData, DWORD dwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdUPDATE_RECORD", [&]() -> LONG {
    if ((dwLen && !pbData)) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDC, bRec, 0x04);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdREAD_RECORD(BYTE bRec, BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdREAD_RECORD", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    APDU a;
    a.INS = 0xB2;
    a.P1 = bRec;
    a.P2 = 0x04;
    a.Le = 0x90;
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Transmit(a, pSM, resp, &len);
    if (rc != 0) return rc;
    if (len > *pdwLen) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(pbBuf, resp, len);
    *pdwLen = len;
    return 0;
  });
}

LONG CTavrixM4::cmdDELETE_FILE(const BYTE* pbFid, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdDELETE_FILE", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfNotOperational();
    if (rc != 0) return rc;
    Command c(0x00, 0xE4, 0x00, 0x00);
    c.Add({pbFid[0], pbFid[1]});
    rc = Transmit(c, pSM);
    if (rc != 0) return rc;
    return cmdPHASE_CONTROL();
  });
}

LONG CTavrixM4::Create_DF(WORD wSize, const BYTE* pbFid, const DFAC* pAC, const DFSM* pSMC,
                          const SMFLAGS* pSM) {
  return Run("CTavrixM4::Create_DF", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x6F, 0x37, 0x81, 0x02, 0xFF, 0xFF, 0x82, 0x03, 0x38, 0x00, 0x00, 0x83, 0x02,
           pbFid[0], pbFid[1], 0x85, 0x03, 0x01, Hi(wSize), Lo(wSize)});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 24, 0xFF);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Create_EF(WORD wSize, const BYTE* pbFid, t_FILE type, const EFAC* pAC,
                          const EFSM* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Create_EF", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x6F, 0x37, 0x81, 0x02, Hi(wSize), Lo(wSize), 0x82, 0x03, static_cast<BYTE>(type),
           0x00, 0x00, 0x83, 0x02, pbFid[0], pbFid[1], 0x85, 0x03, 0x01, Hi(wSize),
           Lo(wSize)});
    c.RecordOr(0x86, pAC ? pAC->ac : nullptr, {0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF});
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 24, 0xFF);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdPUT_DATA_FCI(const EFAC* pAC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdPUT_DATA_FCI", [&]() -> LONG {
    Command c(0x00, 0xDA, 0x01, 0x6F);
    c.RecordOr(0x86, pAC ? pAC->ac : nullptr, {0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF});
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdPUT_DATA_FCI(const EFSM*, const SMFLAGS*) { return 0; }

LONG CTavrixM4::cmdPUT_DATA_FCI(const BYTE*, DWORD, const SMFLAGS*) { return 0; }
