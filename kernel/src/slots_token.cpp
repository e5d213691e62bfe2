// CSlots: what the current slot's token tells (UID, attributes, version,
// random bytes, memory, ATR, PIN pad), the queries that wait for the card
// directory, and the slot events.
#include <algorithm>
#include <cstring>

#include "kernel_guard.h"
#include "slot_table.h"
#include "vexa/card/card_session.h"
#include "vexa/kernel/slots.h"
#include "vexa/platform/trace.h"
#include "vexa/platform/widebytes.h"

using vexa::kernel::GuardedTraced;

namespace {

// Runs body(slot, token) with the current slot's lock held and its token open.
// noSlot: the result when the handle names no slot.
template <class F>
long WithToken(DWORD hSlot, long noSlot, F&& body) {
  if (hSlot == 0) return CSlotsDefs::ERR_NO_SLOT_ATTAHED;
  std::shared_ptr<CSlot> slot = CSlots::FindSlot(hSlot, TRUE);
  if (!slot) return noSlot;
  std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: token work on this slot
  CToken* t = slot->OpenedToken();
  if (t == nullptr) return CSlotsDefs::ERR_NO_TOKEN;
  return body(*slot, *t);
}

}  // namespace

long CSlots::get_UID(long* plLen, BSTR* pbsUID) {
  return GuardedTraced("CSlots::get_UID", [&]() -> long {
    if (!plLen || !pbsUID) return CSlotsDefs::ERR_INVALID_PARAMETER;
    return WithToken(m_hSlot, -1, [&](CSlot& slot, CToken& t) -> long {
      std::vector<BYTE> uid = slot.UID();
      if (uid.empty()) {
        if (long rc = t.GetUID(uid)) return ToKernelStatus(rc);
        slot.SetUID(uid);
      }
      BSTR b = vexa::BytesToBstr(uid);
      if (!b) return CSlotsDefs::ERR_MEMORY;
      *pbsUID = b;
      *plLen = static_cast<long>(uid.size());
      m_pbsOldUID = std::move(uid);
      return 0;
    });
  });
}

long CSlots::GetAttribute(const WCHAR* pKey, long lKeyLen, BSTR* pbsValue, long* plValueLen) {
  return GuardedTraced("CSlots::GetAttribute", [&]() -> long {
    if (!pbsValue || !plValueLen) return CSlotsDefs::ERR_INVALID_PARAMETER;
    auto key = vexa::WideToBytes(pKey, lKeyLen);
    if (!key) return CSlotsDefs::ERR_MEMORY;
    return WithToken(m_hSlot, 0, [&](CSlot&, CToken& t) -> long {
      std::vector<BYTE> value;
      if (long rc = t.GetTokenAttribute(*key, value)) return rc;
      BSTR b = vexa::BytesToBstr(value);
      if (!b) return CSlotsDefs::ERR_MEMORY;
      *pbsValue = b;
      *plValueLen = static_cast<long>(value.size());
      return 0;
    });
  });
}

long CSlots::SetAttribute(const WCHAR* pKey, long lKeyLen, const WCHAR* pValue, long lValueLen) {
  return GuardedTraced("CSlots::SetAttribute", [&]() -> long {
    auto key = vexa::WideToBytes(pKey, lKeyLen);
    auto value = vexa::WideToBytes(pValue, lValueLen);
    if (!key || !value) return CSlotsDefs::ERR_MEMORY;
    return WithToken(m_hSlot, 0,
                     [&](CSlot&, CToken& t) -> long { return t.SetTokenAttribute(*key, *value); });
  });
}

long CSlots::get_TokenVersion(long* plMajor, long* plMinor) {
  return GuardedTraced("CSlots::get_TokenVersion", [&]() -> long {
    if (!plMajor || !plMinor) return CSlotsDefs::ERR_INVALID_PARAMETER;
    return WithToken(m_hSlot, CSlotsDefs::ERR_NO_TOKEN,
                     [&](CSlot&, CToken& t) -> long { return t.GetTokenVersion(plMajor, plMinor); });
  });
}

long CSlots::get_Random(BSTR* pbsRandom, long* plLen) {
  return GuardedTraced("CSlots::get_Random", [&]() -> long {
    if (!pbsRandom || !plLen || *plLen <= 0) return CSlotsDefs::ERR_INVALID_PARAMETER;
    return WithToken(m_hSlot, CSlotsDefs::ERR_NO_TOKEN, [&](CSlot&, CToken& t) -> long {
      vexa::SecureBytes buf(static_cast<std::size_t>(*plLen));
      if (long rc = t.GetRandom(buf.data(), static_cast<DWORD>(buf.size()))) return rc;
      BSTR b = vexa::BytesToBstr(std::span<const BYTE>(buf.data(), buf.size()));
      if (!b) return CSlotsDefs::ERR_MEMORY;
      *pbsRandom = b;
      *plLen = static_cast<long>(buf.size());
      return 0;
    });
  });
}

// ---- waiting for the card directory ----

long CSlots::GetInitTokenState(BOOL*) {
  return GuardedTraced("CSlots::GetInitTokenState", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::SetInitTokenState() {
  return GuardedTraced("CSlots::SetInitTokenState", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::Get_Flags(DWORD*) {
  return GuardedTraced("CSlots::Get_Flags", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::Set_Flags(DWORD) {
  return GuardedTraced("CSlots::Set_Flags", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::Set_TokenFlags(DWORD, BOOL) {
  return GuardedTraced("CSlots::Set_TokenFlags", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::get_GDOversion(DWORD, long*) {
  return GuardedTraced("CSlots::get_GDOversion", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::get_Label(DWORD, BSTR*, long*) {
  return GuardedTraced("CSlots::get_Label", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::set_Label(DWORD, const WCHAR*, long) {
  return GuardedTraced("CSlots::set_Label", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}
long CSlots::get_FreeMemory(DWORD, DWORD*) {
  return GuardedTraced("CSlots::get_FreeMemory", [] { return CSlotsDefs::ERR_NOT_SUPPORTED; });
}

// ---- queries by handle ----

long CSlots::AdoptHandle(DWORD hSlot) {
  if (m_hSlot == 0) m_hSlot = hSlot;
  return m_hSlot == hSlot ? 0 : CSlotsDefs::ERR_INVALID_PARAMETER;
}

long CSlots::get_TotalMemory(DWORD hSlot, DWORD* pdwBytes) {
  return GuardedTraced("CSlots::get_TotalMemory", [&]() -> long {
    if (!pdwBytes) return CSlotsDefs::ERR_INVALID_PARAMETER;
    if (long rc = AdoptHandle(hSlot)) return rc;
    std::shared_ptr<CSlot> slot = FindSlot(hSlot, TRUE);
    if (!slot) return CSlotsDefs::ERR_NO_SLOT_FOUND;
    std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's memory query
    CToken* t = slot->OpenedToken();
    if (t == nullptr) return 0;
    BOOL m420 = FALSE;
    DWORD kb = 0;
    if (t->IsM420(&m420) == 0 && m420 && t->GetMemoryKB(&kb) == 0) *pdwBytes = kb * 1000;
    return 0;
  });
}

long CSlots::IsSecAuthProtected(DWORD hSlot, BOOL* pb) {
  return GuardedTraced("CSlots::IsSecAuthProtected", [&]() -> long {
    if (!pb) return CSlotsDefs::ERR_INVALID_PARAMETER;
    std::shared_ptr<CSlot> slot = FindSlot(hSlot, TRUE);
    if (!slot) return CSlotsDefs::ERR_NO_SLOT_FOUND;
    std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's flags
    CToken* t = slot->OpenedToken();
    if (t == nullptr) return CSlotsDefs::ERR_NO_TOKEN;
    *pb = t->SecAuthRef() != 0 ? TRUE : FALSE;
    return 0;
  });
}

long CSlots::IsSameATR(DWORD hSlot, const WCHAR* pATR, long lLen) {
  // The result is the answer (1 or 0), not a status: a failure reads as "not the same".
  return vexa::kernel::GuardedAs<long>("CSlots::IsSameATR", 0, 0, [&]() -> long {
    Trace(1, "IN  -> CSlots::IsSameATR\n");
    long same = 0;
    auto atr = vexa::WideToBytes(pATR, lLen);
    std::shared_ptr<CSlot> slot = FindSlot(hSlot, TRUE);
    if (atr && !atr->empty() && slot) {
      std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's ATR
      CToken* t = slot->OpenedToken();
      if (t != nullptr) same = t->IsSameATR(*atr);
    }
    Trace(1, "OUT -> CSlots::IsSameATR %ld\n", same);
    return same;
  });
}

long CSlots::IsPinPadOn(BOOL* pbOn) {
  return vexa::kernel::GuardedAs<long>("CSlots::IsPinPadOn", 0, 0, [&]() -> long {
    Trace(1, "IN  -> CSlots::IsPinPadOn\n");
    std::shared_ptr<CSlot> slot = FindSlot(m_hSlot, TRUE);
    if (!slot || !pbOn) {
      Trace(1, "OUT -> CSlots::IsPinPadOn - no slot\n");
      return 0;
    }
    static constexpr char kPinPadReader[] = "OMNIKEY CardMan 3821";
    const bool pinPadReader = slot->SlotName().compare(0, sizeof kPinPadReader - 1, kPinPadReader) == 0;
    *pbOn = pinPadReader && CCardSession::isPinPadEnabled() ? TRUE : FALSE;
    Trace(1, "OUT -> CSlots::IsPinPadOn\n");
    return 1;
  });
}

long CSlots::IsFingerEnabled(BOOL* pbOn) {
  return GuardedTraced("CSlots::IsFingerEnabled", [&]() -> long {
    if (!pbOn) return CSlotsDefs::ERR_INVALID_PARAMETER;
    *pbOn = FALSE;
    std::shared_ptr<CSlot> slot = FindSlot(m_hSlot, TRUE);
    if (!slot) return 0;
    std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's capability
    CToken* t = slot->OpenedToken();
    if (t != nullptr) *pbOn = t->MocEnabled() ? TRUE : FALSE;
    return 0;
  });
}

long CSlots::get_SlotEvent(long* plIndex, BOOL bBlocking) {
  return GuardedTraced("CSlots::get_SlotEvent", [&]() -> long {
    if (!plIndex) return CSlotsDefs::ERR_INVALID_PARAMETER;
    *plIndex = 0;
    return vexa::kernel::WaitSlotEvent(plIndex, bBlocking != FALSE);
  });
}
