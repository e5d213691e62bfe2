// CTavrixM410: object-creating commands of card OS M4.10 and later.
#include <cstring>

#include "command_builder.h"
#include "vexa/card/tavrix_m410.h"

using vexa::card::Command;
using vexa::card::Hi;
using vexa::card::Lo;
using vexa::card::Run;

namespace {
constexpr std::initializer_list<BYTE> kDefaultEFAC = {0x00, 0x00, 0x00, 0xFF, 0xFF,
                                                     0x00, 0x00, 0xFF, 0xFF};
LONG AsStatusWord(LONG rc) { return rc == 0 ? 0x9000 : rc; }
}  // namespace

CTavrixM410::CTavrixM410() = default;
CTavrixM410::CTavrixM410(const CTavrixM410& other) = default;
CTavrixM410& CTavrixM410::operator=(const CTavrixM410& other) = default;
CTavrixM410::~CTavrixM410() = default;

LONG CTavrixM410::Create_DF(WORD wSize, const BYTE* pbFid, const DFAC410* pAC,
                            const DFSM410* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Create_DF", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x62, 0x36, 0x81, 0x02, Hi(wSize), Lo(wSize), 0x82, 0x01, 0x38, 0x83, 0x02, pbFid[0],
           pbFid[1], 0x85, 0x03, 0x00, Hi(wSize), Lo(wSize)});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 10, 0x00);
    c.RecordFill(0xCB, pSMC ? pSMC->sm : nullptr, 24, 0xFF);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM410::Create_EF(WORD wSize, const BYTE* pbFid, t_FILE type, const EFAC410* pAC,
                            const EFSM410* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Create_EF", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x62, 0x33, 0x80, 0x02, Hi(wSize), Lo(wSize), 0x82, 0x01, static_cast<BYTE>(type),
           0x83, 0x02, pbFid[0], pbFid[1], 0x85, 0x01, 0x00});
    c.RecordOr(0x86, pAC ? pAC->ac : nullptr, kDefaultEFAC);
    c.RecordFill(0xCB, pSMC ? pSMC->sm : nullptr, 24, 0xFF);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM410::Create_DF_410(WORD wSize, const BYTE* pbFid, const DFAC* pAC) {
  return Run("CTavrixM410::Create_DF_410", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x62, 0x1B, 0x81, 0x02, 0x00, 0x00, 0x82, 0x01, 0x38, 0x83, 0x02, pbFid[0], pbFid[1],
           0x85, 0x03, 0x01, Hi(wSize), Lo(wSize)});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM410::Create_EF_410_BIN(WORD wSize, const BYTE* pbFid, t_FILE, const EFAC* pAC) {
  return Run("CTavrixM410::Create_EF_410_BIN", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x62, 0x19, 0x80, 0x02, Hi(wSize), Lo(wSize), 0x82, 0x01, 0x01, 0x83, 0x02, pbFid[0],
           pbFid[1], 0x85, 0x01, 0x01});
    c.RecordOr(0x86, pAC ? pAC->ac : nullptr, kDefaultEFAC);
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM410::cmdCHANGE_KEY_DATA(BYTE bRef, t_OBJCLASS cls, const BYTE* pbData, DWORD dwLen,
                                     BYTE, BYTE bMech2, const SMFLAGS* pSM) {
  return Run("CTavrixM410::cmdCHANGE_KEY_DATA", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x90, 0x24, static_cast<BYTE>(cls), static_cast<BYTE>(bRef | bMech2));
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return Transmit(c, pSM);
  });
}

namespace {

// One private-key component object of the M4.10 form.
void KeyObject(Command& c, BYTE cls, BYTE ref, BYTE first, BOOL bFlag, t_ALGO algo,
               const BSAC410* pAC, const BSSM410* pSMC) {
  c.Add({0x83, 0x02, cls, ref});
  c.Add({0x85, 0x08, first, static_cast<BYTE>(bFlag ? 0x23 : 0x00), algo,
         static_cast<BYTE>(bFlag ? 0x4F : 0x0F), 0xFF, 0xFF, 0x00, 0x00});
  c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
  c.RecordFill(0xCB, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
}

}  // namespace

LONG CTavrixM410::Create_Kpri(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, BOOL bFlag,
                              const BSAC410* pAC, const BSSM410* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Create_Kpri", [&]() -> LONG {
    if (dwKeyLen + 2 > 0xFF) return CARD_ERR_TOO_LONG;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    for (int half = 0; half < 2; ++half) {
      Command c(0x00, 0xDA, 0x01, 0x6E);
      KeyObject(c, half == 0 ? 0x20 : 0x21, bKeyRef,
                half == 1 ? 0x02 : (bFlag ? 0x62 : 0x22), bFlag, algo, pAC, pSMC);
      c.Add({0x8F, static_cast<BYTE>(dwKeyLen + 2)}).Fill(0xFF, dwKeyLen + 2);
      rc = Transmit(c, pSM);
      if (rc != 0) return rc;
    }
    return 0;
  });
}

LONG CTavrixM410::Create_KpriRSA2(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, BOOL bFlag,
                                  const BSAC410* pAC, const BSSM410* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Create_KpriRSA2", [&]() -> LONG {
    const DWORD h = dwKeyLen / 2;
    if (h < 2 || h + 2 > 0xFF) return h < 2 ? CARD_ERR_ARGUMENT : CARD_ERR_TOO_LONG;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    const DWORD lengths[5] = {h + 2, h - 2, h + 2, h - 2, h + 2};
    for (int i = 0; i < 5; ++i) {
      Command c(0x00, 0xDA, 0x01, 0x6E);
      KeyObject(c, static_cast<BYTE>(0x20 + i), bKeyRef, bFlag ? 0x62 : 0x22, bFlag, algo, pAC,
                pSMC);
      c.Add({0x8F, static_cast<BYTE>(lengths[i])}).Fill(0xFF, lengths[i]);
      rc = Transmit(c, pSM);
      if (rc != 0) return rc;
    }
    return 0;
  });
}

LONG CTavrixM410::Create_KpriRSA2Full(BYTE bKeyRef, t_ALGO algo, DWORD, const BYTE* pbC1,
                                      DWORD dwC1, const BYTE* pbC2, DWORD dwC2, const BYTE* pbC3,
                                      DWORD dwC3, const BYTE* pbC4, DWORD dwC4, const BYTE* pbC5,
                                      DWORD dwC5, BOOL bFlag, const BSAC410* pAC,
                                      const BSSM410* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Create_KpriRSA2Full", [&]() -> LONG {
    const BYTE* comps[5] = {pbC1, pbC2, pbC3, pbC4, pbC5};
    const DWORD lens[5] = {dwC1, dwC2, dwC3, dwC4, dwC5};
    for (int i = 0; i < 5; ++i) {
      if (!comps[i] || lens[i] == 0) return CARD_ERR_ARGUMENT;
      if (lens[i] + 45 > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    }
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    for (int i = 0; i < 5; ++i) {
      Command c(0x00, 0xDA, 0x01, 0x6E);
      KeyObject(c, static_cast<BYTE>(0x20 + i), bKeyRef, bFlag ? 0x62 : 0x22, bFlag, algo, pAC,
                pSMC);
      c.Tlv(0x8F, std::span<const BYTE>(comps[i], lens[i]));
      rc = Transmit(c, pSM);
      if (rc != 0) return rc;
    }
    return 0;
  });
}

LONG CTavrixM410::cmdFORMAT(const BYTE*, const BYTE* pbKey1, const BYTE* pbKey2, const MFAC*,
                            const MFSM*, const SMFLAGS*) {
  return Run("CTavrixM410::cmdFORMAT", [&]() -> LONG {
    if (!pbKey1 || !pbKey2) return CARD_ERR_ARGUMENT;
    const LONG lc = RequireLifeCycle34();
    if (lc != 0) return lc;
    Command c(0x84, 0x40, 0x00, 0x01);
    c.Add({0x62, 0x15, 0x81, 0x02, 0x04, 0x00, 0x85, 0x01, 0x01, 0x86, 0x0A});
    c.Fill(0x00, 10).Add({0xCB, 0x00});
    return SendSM4(c.Apdu(), pbKey1, pbKey2);
  });
}

LONG CTavrixM410::cmdCHANGE_SYSTEM_KEY(const BYTE* pbKey1, const BYTE* pbKey2,
                                       const BYTE* pbNewA, const BYTE* pbNewB,
                                       t_CHANGEKEYID id) {
  return cmdCHANGE_KEY(pbKey1, pbKey2, pbNewA, pbNewB, id);
}

LONG CTavrixM410::cmdCHANGE_SYSTEM_KEY(const BYTE* pbData, DWORD dwLen, t_CHANGEKEYID id) {
  return cmdCHANGE_KEY(pbData, dwLen, id);
}

LONG CTavrixM410::cmdCHANGE_SYSTEM_KEY(const BYTE* pbData32) {
  return Run("CTavrixM410::cmdCHANGE_SYSTEM_KEY", [&]() -> LONG {
    if (!pbData32) return CARD_ERR_ARGUMENT;
    const LONG lc = RequireLifeCycle34();
    if (lc != 0) return lc;
    Command c(0x84, 0x24, 0x00, 0x00);
    c.Add(std::span<const BYTE>(pbData32, 32));
    return AsStatusWord(Transmit(c, nullptr));
  });
}

LONG CTavrixM410::cmdPUT_DATA_FCI(const DFAC410* pAC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::cmdPUT_DATA_FCI", [&]() -> LONG {
    Command c(0x00, 0xDA, 0x01, 0x6F);
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 10, 0x00);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM410::Init_Logical(BYTE bRef, const BYTE* pbValue, DWORD dwLen, const BSAC410* pAC,
                               const BSSM410*, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Init_Logical", [&]() -> LONG {
    if (!pbValue && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > 0xFF) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6E);
    c.Add({0x83, 0x02, 0x00, bRef, 0x85, 0x08, 0x02, 0x00, 0x7F, 0x00, 0xFF, 0xFF, 0x00, 0x00});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
    c.Tlv(0x8F, std::span<const BYTE>(pbValue, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM410::Init_PIN(BYTE bRef, const BYTE* pbPin, DWORD dwLen, BYTE bX, BYTE bY,
                           const BSAC410* pAC, const BSSM410* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM410::Init_PIN", [&]() -> LONG {
    if (dwLen > 0xFF) return CARD_ERR_TOO_LONG;
    const bool withPin = pbPin != nullptr;
    Command c(0x00, 0xDA, 0x01, 0x6E);
    c.Add({0x83, 0x02, 0x00, bRef});
    if (withPin) c.Add({0x85, 0x08, 0x02, bX, 0x87, bX, 0xFF, 0xFF, 0x00, bY});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
    c.RecordFill(0xCB, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
    if (withPin) c.Tlv(0x8F, std::span<const BYTE>(pbPin, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM410::Create_Kpub(const BYTE* pbFid, DWORD dwKeyLen, const EFAC410* pAC) {
  return Run("CTavrixM410::Create_Kpub", [&]() -> LONG {
    if (2 * dwKeyLen + 16 > 0xFFFF) return CARD_ERR_ARGUMENT;
    return Create_EF(static_cast<WORD>(2 * dwKeyLen + 16), pbFid, FILE_RECORD, pAC, nullptr,
                     nullptr);
  });
}
