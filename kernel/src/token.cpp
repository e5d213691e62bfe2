// CToken: connection, card OS version, application selection, UID, ATR,
// random bytes and the token attribute store.
#include "vexa/kernel/token.h"

#include <PCSC/pcsclite.h>

#include <algorithm>
#include <cstring>

#include "vexa/kernel/config.h"
#include "vexa/kernel/status.h"
#include "vexa/kernel/util.h"
#include "vexa/platform/trace.h"

namespace {

// Holds the card transaction for a multi-command sequence.
class CardTransaction {
 public:
  explicit CardTransaction(CCardSession& card) : m_card(card) { m_card.LockSC(); }
  ~CardTransaction() { m_card.UnlockSC(); }
  CardTransaction(const CardTransaction&) = delete;
  CardTransaction& operator=(const CardTransaction&) = delete;

 private:
  CCardSession& m_card;
};

bool SameBytes(std::span<const BYTE> a, std::span<const BYTE> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

CToken::CToken(DWORD hSlot, std::string readerName)
    : m_szReader(std::move(readerName)), m_hSlot(hSlot), m_pCard(std::make_unique<CTavrixM410>()) {
  const std::string name = "API24_" + m_szReader;
  // A block that cannot be had counts as absent: the directory is then read
  // from the card.
  if (m_shData.Create(name.c_str(), kSharedBlockSize) != 0)
    Trace(4, "\tshared block %s not available\n", name.c_str());
}

CToken::~CToken() {
  if (m_bConnected) m_pCard->Disconnect();
  m_pCard->ExitRM();
}

long CToken::OpenToken() {
  if (!m_pCard->InitRM()) return -1;
  const LONG rc = m_pCard->Connect(m_szReader.c_str());
  if (rc != SCARD_S_SUCCESS) return ToKernelStatus(rc);
  m_bConnected = true;
  return 0;
}

long CToken::CloseToken(std::span<const BYTE> uid, BOOL bFlag) {
  (void)bFlag;
  if (vexa::TraceLevel() >= 4)
    Trace(4, "\tCToken::CloseToken [%s] UID %s\n", m_szReader.c_str(),
          HexText(uid.data(), uid.size()).c_str());
  // No directory is held by this token yet, so there is nothing to write back.
  Trace(4, "\tnothing modified\n");
  m_Attributes.clear();
  long rc = 0;
  if (m_bConnected) {
    rc = ToKernelStatus(m_pCard->Disconnect());
    m_bConnected = false;
  }
  m_pCard->ExitRM();
  return rc;
}

long CToken::Check(int code, CardCheck check, bool cache, BOOL* pbIs) {
  if (pbIs == nullptr) return CObjDefs::ERR_INVALID_PARAMETER;
  if (m_nTavrixVersion != V_UNKNOWN) {
    *pbIs = (m_nTavrixVersion == code || (code == V_M420 && m_nTavrixVersion == V_M42B)) ? TRUE : FALSE;
    return 0;
  }
  const LONG rc = (m_pCard.get()->*check)();
  if (rc == 1) {
    if (cache) m_nTavrixVersion = code;
    *pbIs = TRUE;
    return 0;
  }
  if (rc == 0) {
    *pbIs = FALSE;
    return 0;
  }
  return CObjDefs::ERR_GENERIC;
}

long CToken::IsM3(BOOL* p) { return Check(-1, &CCardSM::IsM3, false, p); }
long CToken::IsM4(BOOL* p) { return Check(V_M40, &CCardSM::IsM4, true, p); }
long CToken::IsM401(BOOL* p) { return Check(V_M401, &CCardSM::IsM401, true, p); }
long CToken::IsM401a(BOOL* p) { return Check(V_M401A, &CCardSM::IsM401a, true, p); }
long CToken::IsM410(BOOL* p) { return Check(V_M410, &CCardSM::IsM410, true, p); }
long CToken::IsM420(BOOL* p) { return Check(V_M420, &CCardSM::IsM420, true, p); }
long CToken::IsM42b(BOOL* p) { return Check(V_M42B, &CCardSM::IsM42b, true, p); }
long CToken::IsM440(BOOL* p) { return Check(V_M440, &CCardSM::IsM440, true, p); }

long CToken::GetTokenVersion(long* plMajor, long* plMinor) {
  if (plMajor == nullptr || plMinor == nullptr) return CObjDefs::ERR_INVALID_PARAMETER;
  if (m_lMajor < 0) {
    struct Row {
      long (CToken::*check)(BOOL*);
      long major, minor;
    };
    // In this order: M4.2b (also C8 0A) is tried before M4.40.
    static constexpr Row kRows[] = {
        {&CToken::IsM3, 3, 0},     {&CToken::IsM4, 4, 0},    {&CToken::IsM401, 4, 1},
        {&CToken::IsM401a, 4, 2},  {&CToken::IsM410, 4, 10}, {&CToken::IsM420, 4, 20},
        {&CToken::IsM42b, 4, 43},  {&CToken::IsM440, 4, 40},
    };
    for (const Row& r : kRows) {
      BOOL is = FALSE;
      const long rc = (this->*r.check)(&is);
      if (rc != 0) return CObjDefs::ERR_GENERIC;
      if (is) {
        m_lMajor = r.major;
        m_lMinor = r.minor;
        break;
      }
    }
    if (m_lMajor < 0) return CObjDefs::ERR_GENERIC;
  }
  *plMajor = m_lMajor;
  *plMinor = m_lMinor;
  return 0;
}

long CToken::DetectVersion() {
  long major = 0, minor = 0;
  const long rc = GetTokenVersion(&major, &minor);
  if (rc != 0) {
    Trace(4, "\t[%s] card OS version not recognised\n", m_szReader.c_str());
    return rc;
  }
  Trace(4, "\t[%s] card OS version %ld.%ld\n", m_szReader.c_str(), major, minor);
  return 0;
}

long CToken::SelectAID(std::span<const BYTE> aid) {
  std::vector<BYTE> next;
  if (aid.empty()) {
    const auto def = vexa::kernel::DefaultAID();
    next.assign(def.begin(), def.end());
  } else {
    next.assign(aid.begin(), aid.end());
  }
  if (next.empty()) return CObjDefs::ERR_INVALID_PARAMETER;
  if (next != m_CurrentAID) {
    m_PreviousAID = std::move(m_CurrentAID);
    m_CurrentAID = next;
  }
  return ToKernelStatus(
      m_pCard->cmdSELECT_FILE(SEL_DF_NAME, m_CurrentAID.data(), static_cast<DWORD>(m_CurrentAID.size())));
}

long CToken::AttachAID(std::span<const BYTE> aid, std::span<const BYTE> gdoPath) {
  if (!gdoPath.empty()) {
    Trace(4, "\tCToken::AttachAID - the card directory cannot be loaded yet\n");
    return CObjDefs::ERR_NOT_SUPPORTED;
  }
  CardTransaction tx(*m_pCard);
  return SelectAID(aid);
}

long CToken::GetUID(std::vector<BYTE>& uid) {
  BYTE buf[16] = {};
  DWORD len = sizeof buf;
  const LONG rc = m_pCard->GetUID(buf, &len);
  if (rc != 0) return ToKernelStatus(rc);
  uid.assign(buf, buf + std::min<DWORD>(len, sizeof buf));
  return 0;
}

long CToken::IsSameATR(std::span<const BYTE> atr) {
  BYTE buf[64] = {};
  DWORD len = sizeof buf;
  if (m_pCard->GetATR(buf, &len) != SCARD_S_SUCCESS) return 0;
  return SameBytes(atr, std::span<const BYTE>(buf, std::min<DWORD>(len, sizeof buf))) ? 1 : 0;
}

long CToken::GetRandom(BYTE* pbBuf, DWORD len) {
  if (pbBuf == nullptr && len > 0) return CObjDefs::ERR_INVALID_PARAMETER;
  long n = static_cast<long>(len);
  CardTransaction tx(*m_pCard);
  const LONG rc = m_pCard->cmdGETCHALLENGE(pbBuf, &n);
  if (rc != 0 || n != static_cast<long>(len)) return CObjDefs::ERR_GENERIC;
  return 0;
}

long CToken::GetMemoryKB(DWORD* pdwKB) {
  const LONG rc = m_pCard->M420_32_64(pdwKB);
  return rc == 1 ? 0 : CObjDefs::ERR_GENERIC;
}

long CToken::GetTokenAttribute(std::span<const BYTE> key, std::vector<BYTE>& value) const {
  for (const auto& [k, v] : m_Attributes) {
    if (SameBytes(k, key)) {
      value = v;
      return 0;
    }
  }
  return CObjDefs::ERR_NO_ATTRIBUTE_FOUND;
}

long CToken::SetTokenAttribute(std::span<const BYTE> key, std::span<const BYTE> value) {
  if (key.empty() || value.empty()) return CObjDefs::ERR_NO_ATTRIBUTE_FOUND;
  for (auto& [k, v] : m_Attributes) {
    if (SameBytes(k, key)) {
      v.assign(value.begin(), value.end());
      return 0;
    }
  }
  m_Attributes.emplace_back(std::vector<BYTE>(key.begin(), key.end()),
                            std::vector<BYTE>(value.begin(), value.end()));
  return 0;
}
