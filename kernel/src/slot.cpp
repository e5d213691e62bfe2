// CSlot: opening and closing its token, and the state changes that card
// monitoring brings.
#include "vexa/kernel/slot.h"

#include <PCSC/pcsclite.h>

#include <algorithm>

#include "slot_table.h"
#include "vexa/card/card_session.h"
#include "vexa/kernel/config.h"
#include "vexa/kernel/slots.h"
#include "vexa/kernel/status.h"
#include "vexa/kernel/util.h"
#include "vexa/platform/trace.h"

using vexa::kernel::GlobalSlotMutex;

CSlot::CSlot(BYTE index, std::string readerName)
    : m_szSlotName(std::move(readerName)), m_hSlot(MakeHandle(index, 0)), m_bIndex(index) {}

CSlot::~CSlot() {
  try {
    std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: closing the token
    m_pToken.reset();
  } catch (...) {
    // A destructor lets nothing out; the token's own destructor has run or
    // will run with the unique_ptr.
  }
}

DWORD CSlot::TokenState() const {
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: state query
  return m_dwTokenState;
}

bool CSlot::TokenOpen() const {
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: state query
  return (m_dwTokenState & TOKEN_OPEN) != 0 && m_pToken != nullptr;
}

CToken* CSlot::OpenedToken() {
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: state query
  return (m_dwTokenState & TOKEN_OPEN) != 0 ? m_pToken.get() : nullptr;
}

DWORD CSlot::SlotHandle() const {
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: the handle changes on close
  return m_hSlot;
}

long CSlot::OpenToken() {
  // The global slot mutex serialises the opening against every other state change.
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: opening
  try {
    return OpenTokenLocked();
  } catch (...) {
    m_pToken.reset();
    Trace(4, "\t[%s] exception while opening the token\n", m_szSlotName.c_str());
    return -1;
  }
}

long CSlot::OpenTokenLocked() {
  if ((m_dwTokenState & TOKEN_OPEN) != 0 && m_pToken) return 0;
  m_pToken.reset();
  m_pToken = std::make_unique<CToken>(m_hSlot, m_szSlotName);
  long rc = m_pToken->OpenToken();
  if (rc == 0) {
    // A card whose OS version is not recognised stays a token: its version
    // query reports ERR_GENERIC and clients decide.
    m_pToken->DetectVersion();
    // A card without the configured application is still a token; attaching
    // to an application reports the failure.
    const long sel = m_pToken->SelectAID();
    if (sel != 0) Trace(4, "\t[%s] application not selected: %d\n", m_szSlotName.c_str(), static_cast<int>(sel));
  }

  if (!m_bMonitoring) {
    const LONG mon = CCardSession::StartCardMonitoringEx(m_szSlotName.c_str(), &vexa::kernel::SlotEventCallback,
                                                         TRUE, vexa::kernel::CitrixTS() ? FALSE : TRUE);
    if (mon == 0)
      m_bMonitoring = true;
    else
      Trace(4, "\t[%s] card monitoring not started: 0x%08x\n", m_szSlotName.c_str(), static_cast<unsigned>(mon));
  }

  if (rc != 0) {
    if (rc != ToKernelStatus(SCARD_W_REMOVED_CARD)) m_pToken.reset();
    Trace(4, "\t[%s] return: %d\n", m_szSlotName.c_str(), static_cast<int>(rc));
    return rc;
  }
  m_dwTokenState = TOKEN_OPEN;
  std::vector<BYTE> uid;
  const long u = m_pToken->GetUID(uid);
  if (u == 0)
    m_pbsUID = std::move(uid);
  else
    Trace(4, "\tUnable to get UID - 0x%08x\n", static_cast<unsigned>(u));
  return 0;
}

long CSlot::CloseToken() {
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: closing
  try {
    return CloseTokenLocked();
  } catch (...) {
    Trace(4, "\t[%s] exception while closing the token\n", m_szSlotName.c_str());
    return -1;
  }
}

long CSlot::CloseTokenLocked() {
  // The slot's objects leave the collections here once the collections exist.
  if (m_pToken) {
    if (!m_pbsUID.empty()) m_pToken->CloseToken(m_pbsUID, FALSE);
    m_pToken.reset();
    ++m_dwGeneration;
    m_hSlot = MakeHandle(m_bIndex, m_dwGeneration);
  }
  m_dwTokenState &= ~static_cast<DWORD>(TOKEN_OPEN);
  m_pbsUID.clear();
  Trace(4, "\tToken state: %u; slot handle: %u\n", static_cast<unsigned>(m_dwTokenState),
        static_cast<unsigned>(m_hSlot));
  return 0;
}

void CSlot::DropTokenLocked() {
  // Other processes must read the next card's directory from the card.
  if (m_pToken) m_pToken->SharedData().Reset();
  vexa::kernel::SetRefreshMark(0);
  CloseTokenLocked();
}

bool CSlot::StateChange(DWORD newState) {
  std::lock_guard<std::recursive_mutex> g(GlobalSlotMutex());  // global mutex: the state change
  try {
    if (newState == TOKEN_INSERTED && (m_dwTokenState & TOKEN_OPEN) != 0 && m_pToken) {
      // An insertion while a token is open means the removal was never
      // reported: the old card's token goes first, so its handle stops working.
      DropTokenLocked();
    }
    m_dwTokenState = newState;
    if (newState == TOKEN_INSERTED) {
      OpenTokenLocked();
    } else if (newState == TOKEN_REMOVED || newState == TOKEN_NO_READER) {
      DropTokenLocked();
      m_dwTokenState = newState;
    }
  } catch (...) {
    Trace(4, "\t[%s] exception in the state change\n", m_szSlotName.c_str());
  }
  vexa::kernel::SignalSlotEvent(m_bIndex);
  m_bFresh = false;
  return newState == TOKEN_NO_READER;
}
