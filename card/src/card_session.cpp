// CCardSession: context, connection, card and reader information, transactions,
// channel byte and the secure-messaging key. The command exchange is in
// card_transmit.cpp, the class-wide services in card_monitor.cpp,
// card_dialog.cpp and pinpad.cpp.
#include "vexa/card/card_session.h"

#include <PCSC/reader.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "card_trace.h"
#include "reader_list.h"
#include "vexa/card/pcsc_table.h"

using vexa::card::Pcsc;
using vexa::card::TraceIn;
using vexa::card::TraceOut;

namespace {

constexpr DWORD kProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
constexpr int kSystemScopeTries = 200;
constexpr auto kSystemScopePause = std::chrono::milliseconds(250);

// pcsc-lite answers SCARD_E_NO_SMARTCARD for a connection to an empty reader
// where the Windows service answers SCARD_W_REMOVED_CARD; callers rely on the
// latter meaning "reader without a card".
LONG NormaliseConnectResult(LONG rc) noexcept {
  return rc == SCARD_E_NO_SMARTCARD ? SCARD_W_REMOVED_CARD : rc;
}

// The reader names of a multi-string, in order.
std::vector<std::string> SplitMultiString(const char* msz, DWORD cch) {
  std::vector<std::string> names;
  const char* end = msz + cch;
  for (const char* p = msz; p < end && *p != '\0';) {
    std::string name(p, strnlen(p, static_cast<std::size_t>(end - p)));
    p += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

namespace vexa::card {

LONG ListReaderNames(SCARDCONTEXT hContext, std::vector<std::string>& names) {
  names.clear();
  DWORD cch = 0;
  LONG rc = Pcsc().ListReaders(hContext, nullptr, nullptr, &cch);
  if (rc != SCARD_S_SUCCESS) return rc;
  std::vector<char> buf(cch + 1, '\0');
  rc = Pcsc().ListReaders(hContext, nullptr, buf.data(), &cch);
  if (rc != SCARD_S_SUCCESS) return rc;
  names = SplitMultiString(buf.data(), std::min<DWORD>(cch, static_cast<DWORD>(buf.size())));
  return names.empty() ? SCARD_E_NO_READERS_AVAILABLE : SCARD_S_SUCCESS;
}

}  // namespace vexa::card

CCardSession::CCardSession() noexcept = default;

CCardSession::CCardSession(const CCardSession& other)
    : m_bContextOwner(false),
      m_hContext(other.m_hContext),
      m_hCard(other.m_hCard),
      m_SMKey(other.m_SMKey),
      m_szReader(other.m_szReader),
      m_bChannel(other.m_bChannel),
      m_dwCommands(other.m_dwCommands) {}

CCardSession& CCardSession::operator=(const CCardSession& other) {
  if (this == &other) return *this;
  // A context this session established would be lost: release it first.
  ExitRM();
  m_bContextOwner = false;
  m_hContext = other.m_hContext;
  m_hCard = other.m_hCard;
  m_SMKey = other.m_SMKey;
  m_szReader = other.m_szReader;
  m_bChannel = other.m_bChannel;
  m_dwCommands = other.m_dwCommands;
  return *this;
}

CCardSession::~CCardSession() {
  ExitRM();
  ReleaseSMKey();
}

bool CCardSession::InitRM() {
  try {
    if (m_hContext != 0) return true;
    SCARDCONTEXT h = 0;
    LONG rc = Pcsc().EstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &h);
    for (int i = 0; rc != SCARD_S_SUCCESS && i < kSystemScopeTries; ++i) {
      h = 0;
      rc = Pcsc().EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &h);
      if (rc == SCARD_S_SUCCESS || rc == SCARD_E_NO_SERVICE) break;
      std::this_thread::sleep_for(kSystemScopePause);
    }
    if (rc != SCARD_S_SUCCESS) {
      Trace(1, "\tCCardSession::InitRM - no context 0x%08lX\n",
            static_cast<unsigned long>(static_cast<DWORD>(rc)));
      return false;
    }
    m_hContext = h;
    m_bContextOwner = true;
    return true;
  } catch (...) {
    return false;
  }
}

LONG CCardSession::ExitRM() {
  if (m_hContext == 0) return 1;
  // A copy shares the context of the session it was made from and leaves it.
  if (!m_bContextOwner) return 1;
  const LONG rc = Pcsc().ReleaseContext(m_hContext);
  m_hContext = 0;
  m_hCard = 0;
  m_bContextOwner = false;
  return rc != SCARD_S_SUCCESS ? rc : 1;
}

LONG CCardSession::Connect(const char* szReader) {
  LONG rc = SCARD_E_NO_MEMORY;
  try {
    TraceIn("CCardSession::Connect");
    if (m_hCard != 0) {
      // A second connection on the same session would leak the first handle.
      Pcsc().Disconnect(m_hCard, SCARD_LEAVE_CARD);
      m_hCard = 0;
    }
    ReleaseSMKey();
    if (szReader == nullptr) {
      std::vector<std::string> names;
      rc = vexa::card::ListReaderNames(m_hContext, names);
      for (const std::string& name : names) {
        rc = Connect(name.c_str());
        if (rc == SCARD_S_SUCCESS) break;
      }
    } else {
      SCARDHANDLE h = 0;
      DWORD proto = 0;
      rc = NormaliseConnectResult(
          Pcsc().Connect(m_hContext, szReader, SCARD_SHARE_SHARED, kProtocols, &h, &proto));
      if (rc == SCARD_S_SUCCESS || rc == SCARD_W_REMOVED_CARD) {
        m_hCard = rc == SCARD_S_SUCCESS ? h : 0;
        m_szReader = szReader;
        Trace(1, "\treader %s\n", szReader);
      } else {
        m_hCard = 0;
      }
    }
  } catch (...) {
    m_hCard = 0;
    rc = SCARD_E_NO_MEMORY;
  }
  if (rc != SCARD_S_SUCCESS) ReleaseSMKey();
  TraceOut("CCardSession::Connect", rc);
  return rc;
}

LONG CCardSession::ReConnect() {
  TraceIn("CCardSession::ReConnect");
  DWORD proto = 0;
  LONG rc = m_hCard != 0
                ? Pcsc().Reconnect(m_hCard, SCARD_SHARE_SHARED, kProtocols, SCARD_LEAVE_CARD, &proto)
                : (m_szReader.empty() ? SCARD_E_INVALID_HANDLE : SCARD_W_REMOVED_CARD);
  TraceOut("CCardSession::ReConnect", rc);
  return rc;
}

LONG CCardSession::Disconnect() {
  TraceIn("CCardSession::Disconnect");
  LONG rc = SCARD_S_SUCCESS;
  if (m_hCard != 0) rc = Pcsc().Disconnect(m_hCard, SCARD_LEAVE_CARD);
  m_hCard = 0;
  ReleaseSMKey();
  TraceOut("CCardSession::Disconnect", rc);
  return rc;
}

const char* CCardSession::GetReaderName() const noexcept { return m_szReader.c_str(); }

LONG CCardSession::GetATR(BYTE* pbAtr, DWORD* pcbAtr) {
  if (pcbAtr == nullptr) return SCARD_E_INVALID_PARAMETER;
  if (pbAtr == nullptr) *pcbAtr = 0;  // ask for the length only
  const DWORD capacity = *pcbAtr;
  const LONG rc = Pcsc().GetAttrib(m_hCard, SCARD_ATTR_ATR_STRING, pbAtr, pcbAtr);
  if (rc != SCARD_E_UNSUPPORTED_FEATURE || Pcsc().Status == nullptr) return rc;
  // Reader drivers that do not offer the attribute (vpcd among them): the
  // service's own copy of the ATR, which is the same.
  BYTE atr[MAX_ATR_SIZE];
  DWORD cbAtr = sizeof atr;
  DWORD state = 0, proto = 0, cchReader = 0;
  const LONG st = Pcsc().Status(m_hCard, nullptr, &cchReader, &state, &proto, atr, &cbAtr);
  if (st != SCARD_S_SUCCESS) return st;
  *pcbAtr = cbAtr;
  if (pbAtr == nullptr) return SCARD_S_SUCCESS;
  if (cbAtr > capacity) return SCARD_E_INSUFFICIENT_BUFFER;
  std::copy_n(atr, cbAtr, pbAtr);
  return SCARD_S_SUCCESS;
}

LONG CCardSession::GetManufacturer(BYTE* pbBuf, DWORD* pcbBuf) {
  if (pbBuf == nullptr || pcbBuf == nullptr) return 1;
  try {
    DWORD cb = 0;
    LONG rc = Pcsc().GetAttrib(m_hCard, SCARD_ATTR_VENDOR_NAME, nullptr, &cb);
    if (rc != SCARD_S_SUCCESS) return rc;
    std::vector<BYTE> value(cb);
    rc = Pcsc().GetAttrib(m_hCard, SCARD_ATTR_VENDOR_NAME, value.data(), &cb);
    if (rc != SCARD_S_SUCCESS) return rc;
    if (cb > *pcbBuf) return 1;
    std::copy_n(value.begin(), cb, pbBuf);
    *pcbBuf = cb;
    return SCARD_S_SUCCESS;
  } catch (...) {
    return SCARD_E_NO_MEMORY;
  }
}

LONG CCardSession::GetReaderList(BOOL bCardsOnly, std::vector<std::string>& readers) {
  LONG rc = SCARD_E_NO_MEMORY;
  try {
    TraceIn("CCardSession::GetReaderList");
    readers.clear();
    std::vector<std::string> names;
    rc = vexa::card::ListReaderNames(m_hContext, names);
    for (const std::string& name : names) {
      // A probe connection of its own: the session's own connection stays as it is.
      SCARDHANDLE h = 0;
      DWORD proto = 0;
      rc = NormaliseConnectResult(
          Pcsc().Connect(m_hContext, name.c_str(), SCARD_SHARE_SHARED, kProtocols, &h, &proto));
      if (rc == SCARD_S_SUCCESS) {
        Pcsc().Disconnect(h, SCARD_LEAVE_CARD);
        readers.push_back(name);
      } else if (rc == SCARD_W_REMOVED_CARD && !bCardsOnly) {
        readers.push_back(name);
      } else {
        Trace(1, "\treader %s not listed 0x%08lX\n", name.c_str(),
              static_cast<unsigned long>(static_cast<DWORD>(rc)));
      }
    }
  } catch (...) {
    readers.clear();
    rc = SCARD_E_NO_MEMORY;
  }
  TraceOut("CCardSession::GetReaderList", rc);
  return rc;
}

LONG CCardSession::GetReaderList(BOOL bCardsOnly, std::string& mszReaders, DWORD* pdwCount) {
  try {
    std::vector<std::string> readers;
    const LONG rc = GetReaderList(bCardsOnly, readers);
    mszReaders.clear();
    for (const std::string& r : readers) {
      mszReaders += r;
      mszReaders.push_back('\0');
    }
    mszReaders.push_back('\0');
    if (pdwCount != nullptr) *pdwCount = static_cast<DWORD>(readers.size());
    return rc;
  } catch (...) {
    mszReaders.clear();
    if (pdwCount != nullptr) *pdwCount = 0;
    return SCARD_E_NO_MEMORY;
  }
}

void CCardSession::LockSC() noexcept {
  if (m_hCard != 0) Pcsc().BeginTransaction(m_hCard);
}

void CCardSession::UnlockSC() noexcept {
  if (m_hCard != 0) Pcsc().EndTransaction(m_hCard, SCARD_LEAVE_CARD);
}

LONG CCardSession::Get_ChannelUsed(BYTE* pbChannel) const noexcept {
  if (pbChannel != nullptr) *pbChannel = m_bChannel;
  return 0;
}

LONG CCardSession::Set_ChannelUsed(BYTE bChannel) noexcept {
  m_bChannel = bChannel;
  return 0;
}

void CCardSession::SetSMKey(std::span<const BYTE> key) {
  m_SMKey.assign(key.begin(), key.end());
}

void CCardSession::ReleaseSMKey() noexcept {
  vexa::SecureWipe(m_SMKey.data(), m_SMKey.size());
  m_SMKey.clear();
  m_SMKey.shrink_to_fit();  // the wiping allocator clears the released block too
}
