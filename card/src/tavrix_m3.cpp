// CTavrixM3: the M3 card OS commands.
#include "vexa/card/tavrix_m3.h"

#include <algorithm>
#include <cstring>

#include "command_builder.h"

using vexa::card::Command;
using vexa::card::Hi;
using vexa::card::Lo;
using vexa::card::Run;

namespace {

// Parts of the M3 transparent-file commands. Writing goes in parts of 255
// bytes; reading asks for at most 253, the most a short answer can carry.
constexpr DWORD kWritePart = 255;
constexpr DWORD kReadPart = 253;

LONG SendCmd(CTavrixM3& s, const Command& c, BYTE* resp = nullptr, BYTE* len = nullptr) {
  if (!c.Fits()) return CARD_ERR_TOO_LONG;
  return s.Send(c.Apdu(), resp, len);
}

LONG WithData(CTavrixM3& s, BYTE cla, BYTE ins, BYTE p1, BYTE p2, const BYTE* data, DWORD len) {
  if (!data && len) return CARD_ERR_ARGUMENT;
  if (len > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
  Command c(cla, ins, p1, p2);
  c.Add(std::span<const BYTE>(data, len));
  return SendCmd(s, c);
}

}  // namespace

CTavrixM3::CTavrixM3() = default;
CTavrixM3::CTavrixM3(const CTavrixM3& other) = default;
CTavrixM3& CTavrixM3::operator=(const CTavrixM3& other) = default;
CTavrixM3::~CTavrixM3() = default;

LONG CTavrixM3::VerifyPIN(BYTE bRef, const BYTE* pbPin, DWORD dwLen) {
  return Run("CTavrixM3::VerifyPIN", [&]() -> LONG {
    return WithData(*this, 0x00, 0x20, 0x00, static_cast<BYTE>(bRef | 0x80), pbPin, dwLen);
  });
}

LONG CTavrixM3::ChangePin(BYTE bRef, const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM3::ChangePin", [&]() -> LONG {
    return WithData(*this, 0x00, 0x24, 0x01, static_cast<BYTE>(bRef | 0x80), pbData, dwLen);
  });
}

LONG CTavrixM3::Change3DES(BYTE bRef, const BYTE* pbKey, DWORD dwLen) {
  return ChangeReferenceData(static_cast<BYTE>(bRef | 0x80), 0x21, pbKey, dwLen);
}

LONG CTavrixM3::ChangeReferenceData(BYTE bP2, BYTE bP1, const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM3::ChangeReferenceData", [&]() -> LONG {
    return WithData(*this, 0x00, 0x24, bP1, bP2, pbData, dwLen);
  });
}

LONG CTavrixM3::Select(BYTE bMode, const BYTE* pbId, DWORD dwLen) {
  return Run("CTavrixM3::Select", [&]() -> LONG {
    if (bMode == 1) {
      if (!pbId || dwLen < 2) return CARD_ERR_ARGUMENT;
      return WithData(*this, 0x00, 0xA4, 0x00, 0x00, pbId, 2);
    }
    if (bMode == 2) return WithData(*this, 0x00, 0xA4, 0x08, 0x00, pbId, dwLen);
    return CARD_ERR_SELECT_MODE;
  });
}

LONG CTavrixM3::ReadBinary(BYTE* pbBuf, DWORD* pdwLen) {
  return Run("CTavrixM3::ReadBinary", [&]() -> LONG {
    if (!pdwLen || (*pdwLen && !pbBuf) || *pdwLen > 0x10000) return CARD_ERR_ARGUMENT;
    const DWORD want = *pdwLen;
    DWORD done = 0;
    while (done < want) {
      const DWORD part = std::min(kReadPart, want - done);
      Command c(0x00, 0xB0, Hi(done), Lo(done), static_cast<BYTE>(part));
      BYTE resp[255];
      BYTE len = sizeof resp;
      const LONG rc = SendCmd(*this, c, resp, &len);
      if (rc != 0) {
        *pdwLen = done;
        return rc;
      }
      const DWORD got = std::min<DWORD>(len, part);
      std::memcpy(pbBuf + done, resp, got);
      done += got;
      if (got < part) {
        *pdwLen = done;
        return CARD_ERR_RESPONSE;
      }
    }
    *pdwLen = done;
    return 0;
  });
}

LONG CTavrixM3::ReadBinaryEx(BYTE* pbBuf, DWORD* pdwLen) {
  return Run("CTavrixM3::ReadBinaryEx", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    const DWORD want = std::min<DWORD>(*pdwLen, 0x10000);
    DWORD done = 0;
    while (done < want) {
      Command c(0x00, 0xB0, Hi(done), Lo(done), static_cast<BYTE>(kReadPart));
      BYTE resp[255];
      BYTE len = sizeof resp;
      const LONG rc = SendCmd(*this, c, resp, &len);
      if (rc == 0x6A86 && done > 0) break;
      if (rc != 0) {
        *pdwLen = done;
        return rc;
      }
      const DWORD got = std::min<DWORD>(len, want - done);
      std::memcpy(pbBuf + done, resp, got);
      done += got;
      if (len < kReadPart) break;
    }
    *pdwLen = done;
    return 0;
  });
}

LONG CTavrixM3::AppendRecord(const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM3::AppendRecord",
             [&]() -> LONG { return WithData(*this, 0x00, 0xE2, 0x00, 0x00, pbData, dwLen); });
}

LONG CTavrixM3::ReadRecord(BYTE bRec, BYTE* pbBuf, DWORD* pdwLen) {
  return Run("CTavrixM3::ReadRecord", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    Command c(0x00, 0xB2, bRec, 0x04, 0x90);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = SendCmd(*this, c, resp, &len);
    if (rc != 0) return rc;
    if (len > *pdwLen) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(pbBuf, resp, len);
    *pdwLen = len;
    return 0;
  });
}

LONG CTavrixM3::UpdateBinary(const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM3::UpdateBinary", [&]() -> LONG {
    if ((!pbData && dwLen) || dwLen > 0x10000) return CARD_ERR_ARGUMENT;
    for (DWORD done = 0; done < dwLen;) {
      const DWORD part = std::min(kWritePart, dwLen - done);
      const LONG rc = WithData(*this, 0x00, 0xD6, Hi(done), Lo(done), pbData + done, part);
      if (rc != 0) return rc;
      done += part;
    }
    return 0;
  });
}

LONG CTavrixM3::UpdateRecord(BYTE bRec, const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM3::UpdateRecord",
             [&]() -> LONG { return WithData(*this, 0x00, 0xDC, bRec, 0x04, pbData, dwLen); });
}

LONG CTavrixM3::WriteBinaryFile(const BYTE* pbData, DWORD dwLen) {
  return Run("CTavrixM3::WriteBinaryFile", [&]() -> LONG {
    if ((!pbData && dwLen) || dwLen > 0xFFFF) return CARD_ERR_ARGUMENT;
    std::vector<BYTE> file = {Hi(dwLen), Lo(dwLen)};
    if (dwLen) file.insert(file.end(), pbData, pbData + dwLen);
    return UpdateBinary(file.data(), static_cast<DWORD>(file.size()));
  });
}

LONG CTavrixM3::ReadBinaryFile(BYTE* pbBuf, DWORD* pdwLen) {
  return Run("CTavrixM3::ReadBinaryFile", [&]() -> LONG {
    if (!pbBuf || !pdwLen) return CARD_ERR_ARGUMENT;
    BYTE prefix[2];
    DWORD n = 2;
    LONG rc = ReadBinary(prefix, &n);
    if (rc != 0) return rc;
    const DWORD len = vexa::card::Be16(prefix);
    if (len > *pdwLen) return SCARD_E_INSUFFICIENT_BUFFER;
    std::vector<BYTE> file(len + 2);
    n = len + 2;
    rc = ReadBinary(file.data(), &n);
    if (rc != 0) return rc;
    std::memcpy(pbBuf, file.data() + 2, len);
    *pdwLen = len;
    return 0;
  });
}

LONG CTavrixM3::DeleteFileA(const BYTE* pbFid) {
  return Run("CTavrixM3::DeleteFileA", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    const LONG lc = GetData_Stato();
    if (lc < 0 || lc > 0xFF) return lc;
    LONG rc = 0;
    if (lc != 0x20 && (rc = PhaseControl()) != 0) return rc;
    rc = WithData(*this, 0x00, 0xE4, 0x00, 0x00, pbFid, 2);
    if (rc != 0) return rc;
    return PhaseControl();
  });
}

LONG CTavrixM3::CreateFileA(WORD wSize, const BYTE* pbFid, BYTE bType, const BYTE* pbAC11) {
  return Run("CTavrixM3::CreateFileA", [&]() -> LONG {
    if (!pbFid) return CARD_ERR_ARGUMENT;
    const LONG lc = GetData_Stato();
    if (lc < 0 || lc > 0xFF) return lc;
    LONG rc = 0;
    if (lc != 0x20 && (rc = PhaseControl()) != 0) return rc;
    Command c(0x00, 0xE0, 0x00, 0x00);
    c.Add({0x6F, 0x1F, 0x81, 0x02, Hi(wSize), Lo(wSize), 0x82, 0x03, bType, 0x00, 0x00, 0x83,
           0x02, pbFid[0], pbFid[1], 0x85, 0x03, 0x01, Hi(wSize), Lo(wSize)});
    c.RecordOr(0x86, pbAC11,
               {0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00});
    rc = SendCmd(*this, c);
    if (rc != 0) return rc;
    return PhaseControl();
  });
}

LONG CTavrixM3::GetData_Stato() {
  return Run("CTavrixM3::GetData_Stato", [&]() -> LONG {
    Command c(0x00, 0xCA, 0x01, 0x83, 0x01);
    BYTE resp[255];
    BYTE len = sizeof resp;
    const LONG rc = SendCmd(*this, c, resp, &len);
    if (rc != 0) return rc;
    if (len < 1) return CARD_ERR_RESPONSE;
    return resp[0];
  });
}

LONG CTavrixM3::PhaseControl() {
  return Run("CTavrixM3::PhaseControl", [&]() -> LONG {
    Command c(0xB0, 0x10, 0x00, 0x00);
    return SendCmd(*this, c);
  });
}

LONG CTavrixM3::ResetSecurityState() {
  return Run("CTavrixM3::ResetSecurityState", [&]() -> LONG {
    Command c(0x00, 0xEA, 0x00, 0x00);
    return SendCmd(*this, c);
  });
}

LONG CTavrixM3::ResetRetryCounter(BYTE bRef) {
  return Run("CTavrixM3::ResetRetryCounter", [&]() -> LONG {
    const LONG lc = GetData_Stato();
    if (lc < 0 || lc > 0xFF) return lc;
    LONG rc = 0;
    if (lc != 0x20 && (rc = PhaseControl()) != 0) return rc;
    Command c(0x00, 0x2C, 0x03, static_cast<BYTE>(bRef | 0x80));
    rc = SendCmd(*this, c);
    if (rc < 0) return rc;  // not transmitted
    const LONG phase = PhaseControl();
    return rc != 0 ? rc : phase;
  });
}

LONG CTavrixM3::Apply3Des(BYTE bMode, BYTE bKeyRef, const BYTE* pbData, DWORD dwLen, BYTE* pbOut,
                          DWORD* pdwOut) {
  return Run("CTavrixM3::Apply3Des", [&]() -> LONG {
    if (bMode > 1) return CARD_ERR_BAD_MODE;
    if (!pbData || !pbOut || !pdwOut) return CARD_ERR_ARGUMENT;
    if (dwLen > vexa::card::kMaxShortData) return CARD_ERR_TOO_LONG;
    Command mse(0x00, 0x22, 0x41, 0xB8);
    mse.Add({0x83, 0x02, 0x00, bKeyRef});
    LONG rc = SendCmd(*this, mse);
    if (rc != 0) return rc;
    Command pso(0x00, 0x2A, bMode == 0 ? 0x86 : 0x80, bMode == 0 ? 0x80 : 0x86);
    pso.Add(std::span<const BYTE>(pbData, dwLen));
    BYTE resp[255];
    BYTE len = sizeof resp;
    rc = SendCmd(*this, pso, resp, &len);
    if (rc != 0) return rc;
    if (len > *pdwOut) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(pbOut, resp, len);
    *pdwOut = len;
    return 0;
  });
}
