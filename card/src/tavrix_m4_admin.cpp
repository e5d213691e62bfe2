// CTavrixM4: card administration: formatting, erasing, system keys, access
// conditions and names, logical PINs, PIN and security-environment objects,
// public-key objects, security status, GET DATA and length-prefixed files.
#include <algorithm>
#include <cstring>

#include "builtin_keys.h"
#include "command_builder.h"
#include "vexa/card/tavrix_m4.h"

using vexa::card::BuiltInKeyPair;
using vexa::card::BuiltInPair;
using vexa::card::Command;
using vexa::card::Hi;
using vexa::card::Lo;
using vexa::card::Run;

namespace {

// The status word of a sent command as the system-key commands report it:
// 0x9000 itself on success.
LONG AsStatusWord(LONG rc) { return rc == 0 ? 0x9000 : rc; }

}  // namespace

LONG CTavrixM4::cmdFORMAT(const BYTE* pbSize, const BYTE* pbKey1, const BYTE* pbKey2,
                          const MFAC*, const MFSM*, const SMFLAGS*) {
  return Run("CTavrixM4::cmdFORMAT", [&]() -> LONG {
    if (!pbSize || !pbKey1 || !pbKey2) return CARD_ERR_ARGUMENT;
    const LONG lc = RequireLifeCycle34();
    if (lc != 0) return lc;
    Command c(0x84, 0x40, 0x00, 0x01);
    c.Add({0x6F, 0x26, 0x85, 0x03, 0x01, pbSize[0], pbSize[1], 0x86, 0x09});
    c.Fill(0x00, 9).Add({0x8B, 0x14}).Fill(0xFF, 20);
    return SendSM4(c.Apdu(), pbKey1, pbKey2);
  });
}

LONG CTavrixM4::cmdFORMAT() {
  return Run("CTavrixM4::cmdFORMAT", [&]() -> LONG {
    const LONG lc = RequireLifeCycle34();
    if (lc != 0) return lc;
    // The built-in field: the 40-byte creation template of a 16 KB MF and its
    // "4"-form MAC under the format key pair (48 bytes).
    Command tmpl(0x84, 0x40, 0x00, 0x01);
    tmpl.Add({0x6F, 0x26, 0x85, 0x03, 0x01, 0x40, 0x00, 0x86, 0x09});
    tmpl.Fill(0x00, 9).Add({0x8B, 0x14}).Fill(0xFF, 20);
    const vexa::SecureBytes k = BuiltInKeyPair(BuiltInPair::kFormat);
    initializeKeysSM(k.data(), k.data() + 8, k.data());
    APDU field;
    LONG rc = SM_SIG_4(tmpl.Apdu(), field);
    if (rc != 0) return rc;
    Command c(0x84, 0x40, 0x00, 0x01);
    c.Add(std::span<const BYTE>(field.pData, field.Lc));
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::cmdERASE_FILE(const BYTE* pbKey1, const BYTE* pbKey2) {
  return Run("CTavrixM4::cmdERASE_FILE", [&]() -> LONG {
    if (!pbKey1 || !pbKey2) return CARD_ERR_ARGUMENT;
    const LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x84, 0x06, 0x00, 0x00);
    return SendSM4(c.Apdu(), pbKey1, pbKey2);
  });
}

LONG CTavrixM4::cmdERASE_FILE() {
  return Run("CTavrixM4::cmdERASE_FILE", [&]() -> LONG {
    const vexa::SecureBytes k = BuiltInKeyPair(BuiltInPair::kErase);
    const LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x84, 0x06, 0x00, 0x00);
    return SendSM4(c.Apdu(), k.data(), k.data() + 8);
  });
}

LONG CTavrixM4::EraseFilesM4_2() {
  return Run("CTavrixM4::EraseFilesM4_2", [&]() -> LONG {
    const LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x84, 0x06, 0x00, 0x00);
    return SendSM4Installed(c.Apdu());
  });
}

LONG CTavrixM4::cmdCHANGE_KEY(const BYTE* pbKey1, const BYTE* pbKey2, const BYTE* pbNewA,
                              const BYTE* pbNewB, t_CHANGEKEYID id) {
  return Run("CTavrixM4::cmdCHANGE_KEY", [&]() -> LONG {
    if (!pbKey1 || !pbKey2 || !pbNewA || !pbNewB) return CARD_ERR_ARGUMENT;
    const LONG m4 = IsM4();
    if (m4 < 0 || m4 > 1) return m4;
    if (m4 == 1) {
      const LONG lc = RequireLifeCycle34();
      if (lc != 0) return lc;
    }
    Command c(0x84, 0x24, 0x00, id);
    c.Add(std::span<const BYTE>(pbNewA, 8)).Add(std::span<const BYTE>(pbNewB, 8));
    const LONG rc = SendSM4(c.Apdu(), pbKey1, pbKey2);
    return AsStatusWord(rc);
  });
}

LONG CTavrixM4::cmdCHANGE_KEY(const BYTE* pbNewA, const BYTE* pbNewB, t_CHANGEKEYID id) {
  return vexa::card::Guarded([&]() -> LONG {
    const vexa::SecureBytes k = BuiltInKeyPair(BuiltInPair::kFormat);
    return cmdCHANGE_KEY(k.data(), k.data() + 8, pbNewA, pbNewB, id);
  });
}

LONG CTavrixM4::cmdCHANGE_KEY(const BYTE* pbData, DWORD dwLen, t_CHANGEKEYID id) {
  return Run("CTavrixM4::cmdCHANGE_KEY", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x84, 0x24, 0x00, id);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    return AsStatusWord(Transmit(c, nullptr));
  });
}

LONG CTavrixM4::cmdEXTERNAL_AUTHENTICATE(BYTE bKeyRef, const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM4::cmdEXTERNAL_AUTHENTICATE", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0x82, 0x00, static_cast<BYTE>(bKeyRef ^ 0x80), 0x90);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    BYTE resp[255];
    BYTE len = sizeof resp;
    return Transmit(c, nullptr, resp, &len);
  });
}

LONG CTavrixM4::cmdINCREASE(DWORD dwValue) {
  return Run("CTavrixM4::cmdINCREASE", [&]() -> LONG {
    Command c(0x80, 0x32, 0x00, 0x00);
    c.Add({Lo(dwValue), Lo(dwValue >> 8), Lo(dwValue >> 16), Lo(dwValue >> 24)});
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::Change_AC(const MFAC* pAC, const MFSM* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Change_AC", [&]() -> LONG {
    Command c(0x00, 0xDA, 0x01, 0x6F);
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 24, 0xFF);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Change_AC(const DFAC* pAC, const DFSM* pSMC, const BYTE* pbName,
                          DWORD dwNameLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Change_AC", [&]() -> LONG {
    if (pbName && dwNameLen > 16) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6F);
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 9, 0x00);
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 24, 0xFF);
    if (pbName) c.Tlv(0x84, std::span<const BYTE>(pbName, dwNameLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Change_DFName(const BYTE* pbName, DWORD dwLen, const SMFLAGS*) {
  return Run("CTavrixM4::Change_DFName", [&]() -> LONG {
    if (!pbName || dwLen == 0) return CARD_ERR_ARGUMENT;
    if (dwLen > 16) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6F);
    c.Tlv(0x84, std::span<const BYTE>(pbName, dwLen));
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::Init_Logical(BYTE bRef, const BYTE* pbValue, DWORD dwLen, const BSAC* pAC,
                             const BSSM*, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Init_Logical", [&]() -> LONG {
    if (!pbValue && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > 0xFF) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6E);
    c.Add({0x83, 0x02, 0x00, bRef, 0x85, 0x08, 0x02, 0x00, 0x7F, 0x00, 0xFF, 0xFF, 0x00, 0x00});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 7, 0x00);
    c.Tlv(0x8F, std::span<const BYTE>(pbValue, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Init_PIN(BYTE bRef, const BYTE* pbPin, DWORD dwLen, BYTE bX, BYTE bY,
                         const BSAC* pAC, const BSSM* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Init_PIN", [&]() -> LONG {
    if (!pbPin && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > 0xFF) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6E);
    c.Add({0x83, 0x02, 0x00, bRef, 0x85, 0x08, 0x02, bX, 0x87, bX, 0xFF, 0xFF, 0x00, bY});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 7, 0x00);
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
    c.Tlv(0x8F, std::span<const BYTE>(pbPin, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::cmdPUT_DATA_SECI(BYTE bNr, const SEAC* pAC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdPUT_DATA_SECI", [&]() -> LONG {
    Command c(0x00, 0xDA, 0x01, 0x6D);
    c.Add({0x83, 0x01, bNr});
    c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 2, 0x00);
    c.Add({0x8F, 0x06}).Fill(0x00, 6);
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Create_Kpub(const BYTE* pbFid, DWORD dwKeyLen, const EFAC* pAC) {
  return Run("CTavrixM4::Create_Kpub", [&]() -> LONG {
    if (2 * dwKeyLen + 16 > 0xFFFF) return CARD_ERR_ARGUMENT;
    return Create_EF(static_cast<WORD>(2 * dwKeyLen + 16), pbFid, FILE_RECORD, pAC, nullptr,
                     nullptr);
  });
}

LONG CTavrixM4::Create_Kpub_TestObj(BYTE bRef, const BYTE* pbMod, DWORD dwModLen,
                                    const BYTE* pbExp, DWORD dwExpLen, const BSAC* pAC,
                                    const BSSM* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Create_Kpub_TestObj", [&]() -> LONG {
    if (!pbMod || !pbExp || dwModLen == 0 || dwExpLen == 0) return CARD_ERR_ARGUMENT;
    if (dwModLen > 0xFF || dwExpLen > 0xFF) return CARD_ERR_TOO_LONG;
    for (int part = 0; part < 2; ++part) {
      Command c(0x00, 0xDA, 0x01, 0x6E);
      c.Add({0x83, 0x02, static_cast<BYTE>(part), bRef, 0x85, 0x08,
             static_cast<BYTE>(part == 0 ? 0x21 : 0x01), 0x00, 0x88, 0x0F, 0xFF, 0xFF, 0x00,
             0x00});
      c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 7, 0x00);
      c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
      if (part == 0) {
        c.Tlv(0x8F, std::span<const BYTE>(pbMod, dwModLen));
      } else {
        c.Tlv(0x8F, std::span<const BYTE>(pbExp, dwExpLen));
      }
      const LONG rc = Transmit(c, pSM);
      if (rc != 0) return rc;
    }
    return 0;
  });
}

LONG CTavrixM4::cmdRESET_SECURITY_STATUS(const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdRESET_SECURITY_STATUS", [&]() -> LONG {
    LONG rc = PhaseIfNotOperational();
    if (rc != 0) return rc;
    Command c(0x00, 0xEA, 0x00, 0x00);
    rc = Transmit(c, pSM);
    const LONG phase = cmdPHASE_CONTROL();
    return rc != 0 ? rc : phase;
  });
}

LONG CTavrixM4::cmdGETDATA(BYTE bP2, BYTE* pbBuf, DWORD* pdwLen) {
  return Run("CTavrixM4::cmdGETDATA", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    Command c(0x00, 0xCA, 0x01, bP2);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Transmit(c, nullptr, resp, &len);
    if (rc != 0) return rc;
    std::memcpy(pbBuf, resp, std::min<DWORD>(len, *pdwLen));
    *pdwLen = len;
    return 0;
  });
}

LONG CTavrixM4::Is_AccessGranted(BYTE b) {
  return Run("CTavrixM4::Is_AccessGranted", [&]() -> LONG {
    Command c(0x00, 0xCA, 0x01, 0x84);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = Transmit(c, nullptr, resp, &len);
    if (rc != 0) return rc;
    return std::find(resp, resp + len, b) != resp + len ? 1 : 0;
  });
}

LONG CTavrixM4::ReadBinaryEx(BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS* pSM) {
  return Run("CTavrixM4::ReadBinaryEx", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    const DWORD want = std::min<DWORD>(*pdwLen, 0x10000);
    DWORD done = 0;
    while (done < want) {
      APDU a;
      a.INS = 0xB0;
      a.P1 = Hi(done);
      a.P2 = Lo(done);
      a.Le = 0x70;
      BYTE resp[255];
      BYTE len = sizeof resp;
      const LONG rc = Transmit(a, pSM, resp, &len);
      if (rc == 0x6A86 && done > 0) break;  // past the end of the file
      if (rc != 0) {
        *pdwLen = done;
        return rc;
      }
      const DWORD got = std::min<DWORD>(len, want - done);
      std::memcpy(pbBuf + done, resp, got);
      done += got;
      if (len < 0x70) break;
    }
    *pdwLen = done;
    return 0;
  });
}

LONG CTavrixM4::WriteBinaryFile(const BYTE* pbData, DWORD dwLen, const SMFLAGS*) {
  return Run("CTavrixM4::WriteBinaryFile", [&]() -> LONG {
    if ((!pbData && dwLen) || dwLen > 0xFFFF) return CARD_ERR_ARGUMENT;
    std::vector<BYTE> file = {Hi(dwLen), Lo(dwLen)};
    if (dwLen) file.insert(file.end(), pbData, pbData + dwLen);
    return cmdUPDATE_BINARY(file.data(), static_cast<DWORD>(file.size()));
  });
}

LONG CTavrixM4::ReadBinaryFile(BYTE* pbBuf, DWORD* pdwLen, const SMFLAGS*) {
  return Run("CTavrixM4::ReadBinaryFile", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    BYTE prefix[2];
    DWORD n = 2;
    LONG rc = cmdREAD_BINARY(prefix, &n);
    if (rc != 0) return rc;
    const DWORD len = vexa::card::Be16(prefix);
    if (len > *pdwLen) return SCARD_E_INSUFFICIENT_BUFFER;
    std::vector<BYTE> file(len + 2);
    n = len + 2;
    rc = cmdREAD_BINARY(file.data(), &n);
    if (rc != 0) return rc;
    std::memcpy(pbBuf, file.data() + 2, len);
    *pdwLen = len;
    return 0;
  });
}
