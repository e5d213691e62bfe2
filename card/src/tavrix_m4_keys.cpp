// CTavrixM4: security environments, signatures, encipherment and decipherment,
// key-pair generation, random numbers, the card identifier and key objects.
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

constexpr DWORD kShortAnswer = 253;  // data bytes a short answer can carry

// Copies an answer into the caller's buffer; *pdwOut: capacity in, length out.
LONG CopyOut(const BYTE* src, DWORD n, BYTE* out, DWORD* pdwOut) {
  if (n > *pdwOut) return SCARD_E_INSUFFICIENT_BUFFER;
  if (n) std::memcpy(out, src, n);
  *pdwOut = n;
  return 0;
}

}  // namespace

LONG CTavrixM4::cmdMSE(BYTE bNr) {
  return Run("CTavrixM4::cmdMSE", [&]() -> LONG {
    Command c(0x00, 0x22, 0xF3, bNr);
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::cmdMSE(t_MSE_CSETAG tag, BYTE bKeyRef) {
  return Run("CTavrixM4::cmdMSE", [&]() -> LONG {
    Command c(0x00, 0x22, 0xF1, static_cast<BYTE>(tag));
    c.Add({0x83, 0x01, bKeyRef});
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::PrepareKey(BYTE bEnv, t_MSE_CSETAG tag, BYTE bKeyRef) {
  LONG rc = cmdMSE(bEnv);
  if (rc != 0) return rc;
  return cmdMSE(tag, bKeyRef);
}

LONG CTavrixM4::SignCommand(BYTE cla, BYTE ins, BYTE p1, BYTE p2, t_MSE_CSETAG tag, BYTE bEnv,
                            BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                            DWORD* pdwOut) {
  if (!pbData || !pbOut || !pdwOut || dwLen == 0) return CARD_ERR_ARGUMENT;
  if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
  LONG rc = PrepareKey(bEnv, tag, bKeyRef);
  if (rc != 0) return rc;
  if (*pdwOut <= kShortAnswer) {
    Command c(cla, ins, p1, p2, 0x90);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    BYTE resp[255];
    BYTE len = sizeof resp;
    rc = Transmit(c, nullptr, resp, &len);
    if (rc != 0) return rc;
    return CopyOut(resp, len, pbOut, pdwOut);
  }
  // A caller ready for a longer answer (a 2048-bit key) asks for it with an
  // extended command, since a short answer carries at most 253 bytes.
  APDU a;
  a.CLA = cla;
  a.INS = ins;
  a.P1 = p1;
  a.P2 = p2;
  a.pData = pbData;
  a.bExtended = 1;
  a.LcExtHi = 0;
  a.LcExtLo = static_cast<BYTE>(dwLen);
  a.Le = 0x01;      // Le bytes 01 00: 256 bytes
  a.LeExtHi = 0x00;
  std::vector<BYTE> resp(65535);
  WORD len = static_cast<WORD>(resp.size());
  BYTE sw1 = 0, sw2 = 0;
  rc = SendExt(a, resp.data(), &len, &sw1, &sw2);
  if (rc != 0) return rc;
  const LONG sw = (LONG{sw1} << 8) | sw2;
  if (sw != 0x9000) return sw;
  return CopyOut(resp.data(), len, pbOut, pdwOut);
}

LONG CTavrixM4::cmdPSO_CDS(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                           DWORD* pdwOut) {
  return Run("CTavrixM4::cmdPSO_CDS", [&]() -> LONG {
    return SignCommand(0x00, 0x2A, 0x9E, 0x9A, MSE_DST, bEnv, bKeyRef, pbData, dwLen, pbOut,
                       pdwOut);
  });
}

LONG CTavrixM4::cmdPSO_CDS_ALGO08(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen,
                                  BYTE* pbOut, DWORD* pdwOut) {
  return Run("CTavrixM4::cmdPSO_CDS_ALGO08", [&]() -> LONG {
    return SignCommand(0x80, 0x24, 0x00, 0x00, MSE_CT, bEnv, bKeyRef, pbData, dwLen, pbOut,
                       pdwOut);
  });
}

LONG CTavrixM4::cmdPSO_DEC_ISO(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen,
                               BYTE* pbOut, WORD* pwOut, const SMFLAGS*) {
  return Run("CTavrixM4::cmdPSO_DEC_ISO", [&]() -> LONG {
    if (!pbData || !pbOut || !pwOut || dwLen == 0) return CARD_ERR_ARGUMENT;
    if (dwLen > 0xFFFF) return CARD_ERR_TOO_LONG;
    LONG rc = PrepareKey(bEnv, MSE_CT, bKeyRef);
    if (rc != 0) return rc;
    if (dwLen <= vexa::card::kMaxShortData) {
      Command c(0x00, 0x2A, 0x80, 0x86, 0x90);
      c.Add(std::span<const BYTE>(pbData, dwLen));
      // The answer is the deciphered plaintext (often a key): wiped when released.
      vexa::SecureBytes resp(255);
      BYTE len = static_cast<BYTE>(resp.size());
      rc = Transmit(c, nullptr, resp.data(), &len);
      if (rc != 0) return rc;
      if (len > *pwOut) return SCARD_E_INSUFFICIENT_BUFFER;
      std::memcpy(pbOut, resp.data(), len);
      *pwOut = len;
      return 0;
    }
    APDU a;
    a.INS = 0x2A;
    a.P1 = 0x80;
    a.P2 = 0x86;
    a.pData = pbData;
    a.bExtended = 1;
    a.LcExtHi = Hi(dwLen);
    a.LcExtLo = Lo(dwLen);
    a.Le = 0x01;  // Le bytes 01 00
    a.LeExtHi = 0x00;
    vexa::SecureBytes resp(65535);
    WORD len = static_cast<WORD>(resp.size());
    BYTE sw1 = 0, sw2 = 0;
    rc = SendExt(a, resp.data(), &len, &sw1, &sw2);
    if (rc != 0) return rc;
    const LONG sw = (LONG{sw1} << 8) | sw2;
    if (sw != 0x9000) return sw;
    if (len > *pwOut) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(pbOut, resp.data(), len);
    *pwOut = len;
    return 0;
  });
}

LONG CTavrixM4::cmdPSO_ENC_ISO(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen,
                               BYTE* pbOut, DWORD* pdwOut) {
  return Run("CTavrixM4::cmdPSO_ENC_ISO", [&]() -> LONG {
    if (!pbData || !pbOut || !pdwOut || dwLen == 0) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    LONG rc = PrepareKey(bEnv, MSE_CT, bKeyRef);
    if (rc != 0) return rc;
    Command c(0x00, 0x2A, 0x86, 0x80, 0x90);
    c.Add(std::span<const BYTE>(pbData, dwLen));
    BYTE resp[255];
    BYTE len = sizeof resp;
    rc = Transmit(c, nullptr, resp, &len);
    if (rc != 0) return rc;
    return CopyOut(resp, len, pbOut, pdwOut);
  });
}

LONG CTavrixM4::cmdPSO_DEC(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                           WORD* pwOut, const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdPSO_DEC", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    // With the leading zero the block must fit an extended command (this also
    // keeps dwLen + 1 from wrapping).
    if (dwLen >= 0xFFFF) return CARD_ERR_TOO_LONG;
    vexa::SecureBytes block(dwLen + 1);
    block[0] = 0x00;
    if (dwLen) std::memcpy(block.data() + 1, pbData, dwLen);
    return cmdPSO_DEC_ISO(bEnv, bKeyRef, block.data(), static_cast<DWORD>(block.size()), pbOut,
                          pwOut, pSM);
  });
}

LONG CTavrixM4::cmdPSO_ENC(BYTE bEnv, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                           DWORD* pdwOut) {
  return Run("CTavrixM4::cmdPSO_ENC", [&]() -> LONG {
    if (!pbData && dwLen) return CARD_ERR_ARGUMENT;
    // With the leading zero the block must fit a short command (this also
    // keeps dwLen + 1 from wrapping).
    if (dwLen >= vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    vexa::SecureBytes block(dwLen + 1);
    block[0] = 0x00;
    if (dwLen) std::memcpy(block.data() + 1, pbData, dwLen);
    return cmdPSO_ENC_ISO(bEnv, bKeyRef, block.data(), static_cast<DWORD>(block.size()), pbOut,
                          pdwOut);
  });
}

LONG CTavrixM4::cmdGENERATE_KEY_PAIR(const BYTE* pbFid, BYTE bKeyRef, const BYTE* pbExp,
                                     DWORD dwExpLen) {
  return Run("CTavrixM4::cmdGENERATE_KEY_PAIR", [&]() -> LONG {
    if (!pbFid || (dwExpLen && !pbExp)) return CARD_ERR_ARGUMENT;
    // The card takes no exponent of one or two bytes.
    if (pbExp && (dwExpLen == 1 || dwExpLen == 2)) return 0x6984;
    if (dwExpLen > 0xFF - 10) return CARD_ERR_TOO_LONG;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    Command c(0x00, 0x46, 0x00, 0x00);
    c.Add({0x20, bKeyRef, pbFid[0], pbFid[1], 0x00, 0x00, 0x00, 0x18});
    if (pbExp && dwExpLen >= 3) {
      c.Add({static_cast<BYTE>(dwExpLen + 1), 0x00});
      c.Add(std::span<const BYTE>(pbExp, dwExpLen));
    }
    return Transmit(c, nullptr);
  });
}

LONG CTavrixM4::cmdGETCHALLENGE(BYTE* pbBuf, long* plLen) {
  return Run("CTavrixM4::cmdGETCHALLENGE", [&]() -> LONG {
    if (!plLen) return CARD_ERR_ARGUMENT;
    if (*plLen <= 0) {
      *plLen = 0;
      return 0;
    }
    if (!pbBuf) return CARD_ERR_ARGUMENT;
    const long want = *plLen;
    long done = 0;
    while (done < want) {
      const DWORD part = static_cast<DWORD>(std::min<long>(want - done, 248));
      const LONG rc = GetChallenge(pbBuf + done, part);
      if (rc != 0) {
        *plLen = done;
        return rc;
      }
      done += part;
    }
    return 0;
  });
}

LONG CTavrixM4::GetUID(BYTE* pbBuf, DWORD* pdwLen) {
  return Run("CTavrixM4::GetUID", [&]() -> LONG {
    if (!pdwLen) return CARD_ERR_ARGUMENT;
    if (!pbBuf || *pdwLen < 7) {
      *pdwLen = 7;
      return 1;
    }
    APDU a;
    a.INS = 0xCA;
    a.P1 = 0x01;
    a.P2 = 0x81;
    a.Le = 0x60;
    BYTE resp[255];
    BYTE len = sizeof resp;
    LONG rc = Send(a, resp, &len);
    if (rc != 0) return rc;
    rc = vexa::card::ParseUID({resp, len}, pbBuf);
    if (rc == 0) *pdwLen = 7;
    return rc;
  });
}

LONG CTavrixM4::PutOCI(std::span<const BYTE> tmpl, const SMFLAGS* pSM) {
  Command c(0x00, 0xDA, 0x01, 0x6E);
  c.Add(tmpl);
  return Transmit(c, pSM);
}

LONG CTavrixM4::cmdPUT_DATA_OCI(BYTE bKeyRef, t_OBJCLASS cls, t_ALGO algo, const BYTE* pbValue,
                                DWORD dwLen, const BSAC* pAC, const BSSM* pSMC,
                                const SMFLAGS* pSM) {
  return Run("CTavrixM4::cmdPUT_DATA_OCI", [&]() -> LONG {
    if (!pbValue && dwLen) return CARD_ERR_ARGUMENT;
    if (dwLen > 0xFF) return CARD_ERR_TOO_LONG;
    Command c(0x00, 0xDA, 0x01, 0x6E);
    c.Add({0x83, 0x02, static_cast<BYTE>(cls), bKeyRef});
    c.Add({0x85, 0x08, 0x83, 0x00, algo, 0x0F, 0xFF, 0xFF, 0x00, 0x08});
    c.RecordOr(0x86, pAC ? pAC->ac : nullptr, {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
    if (dwLen) c.Tlv(0x8F, std::span<const BYTE>(pbValue, dwLen));
    return Transmit(c, pSM);
  });
}

LONG CTavrixM4::Create_Kpri(BYTE bKeyRef, t_ALGO algo, DWORD dwKeyLen, BOOL bFlag,
                            const BSAC* pAC, const BSSM* pSMC, const SMFLAGS* pSM) {
  return Run("CTavrixM4::Create_Kpri", [&]() -> LONG {
    if (dwKeyLen + 2 > 0xFF) return CARD_ERR_TOO_LONG;
    LONG rc = PhaseIfCreation();
    if (rc != 0) return rc;
    for (int half = 0; half < 2; ++half) {
      Command c(0x00, 0xDA, 0x01, 0x6E);
      c.Add({0x83, 0x02, static_cast<BYTE>(half == 0 ? 0x20 : 0x21), bKeyRef});
      const BYTE first = half == 1 ? 0x02 : (bFlag ? 0x62 : 0x22);
      c.Add({0x85, 0x08, first, static_cast<BYTE>(bFlag ? 0x23 : 0x00), algo,
             static_cast<BYTE>(bFlag ? 0x4F : 0x0F), 0xFF, 0xFF, 0x00, 0x00});
      // The SM record follows the access record under its own tag.
      c.RecordFill(0x86, pAC ? pAC->ac : nullptr, 7, 0x00);
      c.RecordFill(0x8B, pSMC ? pSMC->sm : nullptr, 16, 0xFF);
      c.Add({0x8F, static_cast<BYTE>(dwKeyLen + 2)}).Fill(0xFF, dwKeyLen + 2);
      rc = Transmit(c, pSM);
      if (rc != 0) return rc;
    }
    return 0;
  });
}

LONG CTavrixM4::cmdPUT_DATA_DSI(DWORD* pdwLen, BYTE bMode) {
  return Run("CTavrixM4::cmdPUT_DATA_DSI", [&]() -> LONG {
    if (bMode != 1) return CARD_ERR_ARGUMENT;
    Command c(0x00, 0xDA, 0x02, 0xC2);
    // DigestInfo prefix of a SHA-1 hash (PKCS #1).
    c.Add({0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04,
           0x14});
    if (pdwLen) *pdwLen = 17;
    return Transmit(c, nullptr);
  });
}
