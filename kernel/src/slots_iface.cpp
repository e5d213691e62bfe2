// CSlots: criteria, the current slot, Find, Attach and the slot-state queries.
#include <PCSC/pcsclite.h>

#include <algorithm>

#include "kernel_guard.h"
#include "slot_table.h"
#include "vexa/kernel/slots.h"
#include "vexa/kernel/util.h"
#include "vexa/platform/trace.h"
#include "vexa/platform/widebytes.h"

using vexa::kernel::GuardedTraced;

namespace {

// A wide byte buffer argument into bytes: ERR_INVALID_PARAMETER for none or a
// length <= 0, ERR_MEMORY when a unit is no byte.
long TakeBytes(const WCHAR* p, long len, std::vector<BYTE>& out) {
  if (p == nullptr || len <= 0) return CSlotsDefs::ERR_INVALID_PARAMETER;
  auto bytes = vexa::WideToBytes(p, len);
  if (!bytes) return CSlotsDefs::ERR_MEMORY;
  out = std::move(*bytes);
  return 0;
}

}  // namespace

CSlots::CSlots() = default;
CSlots::~CSlots() = default;

long CSlots::CurrentSlot(std::shared_ptr<CSlot>& slot) const {
  if (m_hSlot == 0) return CSlotsDefs::ERR_NO_SLOT_ATTAHED;
  slot = FindSlot(m_hSlot, TRUE);
  return 0;
}

long CSlots::put_FindCriteria(DWORD dw) {
  return GuardedTraced("CSlots::put_FindCriteria", [&]() -> long { m_dwFindCriteria = dw; return 0; });
}
long CSlots::get_FindCriteria(DWORD* p) {
  return GuardedTraced("CSlots::get_FindCriteria", [&]() -> long {
    if (!p) return CSlotsDefs::ERR_INVALID_PARAMETER;
    *p = m_dwFindCriteria;
    return 0;
  });
}
long CSlots::put_AttachCriteria(DWORD dw) {
  return GuardedTraced("CSlots::put_AttachCriteria", [&]() -> long { m_dwAttachCriteria = dw; return 0; });
}
long CSlots::get_AttachCriteria(DWORD* p) {
  return GuardedTraced("CSlots::get_AttachCriteria", [&]() -> long {
    if (!p) return CSlotsDefs::ERR_INVALID_PARAMETER;
    *p = m_dwAttachCriteria;
    return 0;
  });
}

long CSlots::put_SlotName(BSTR bsName) {
  return GuardedTraced("CSlots::put_SlotName", [&]() -> long {
    if (bsName == nullptr) return CSlotsDefs::ERR_INVALID_PARAMETER;
    auto text = vexa::BstrToUtf8(bsName);
    if (!text || text->empty()) return CSlotsDefs::ERR_INVALID_PARAMETER;
    m_szSlotName = std::move(*text);
    return 0;
  });
}

long CSlots::put_SlotHandle(DWORD h) {
  return GuardedTraced("CSlots::put_SlotHandle", [&]() -> long { m_hSlot = h; return 0; });
}
long CSlots::get_SlotHandle(DWORD* p) {
  return GuardedTraced("CSlots::get_SlotHandle", [&]() -> long {
    if (!p) return CSlotsDefs::ERR_INVALID_PARAMETER;
    *p = m_hSlot;
    return 0;
  });
}

long CSlots::put_AID(const WCHAR* p, long len) {
  return GuardedTraced("CSlots::put_AID", [&]() -> long { return TakeBytes(p, len, m_pbsAID); });
}
long CSlots::get_AID(BSTR* pbs, long* plLen) {
  return GuardedTraced("CSlots::get_AID", [&]() -> long {
    if (!pbs || !plLen) return CSlotsDefs::ERR_INVALID_PARAMETER;
    BSTR b = vexa::BytesToBstr(m_pbsAID);
    if (!b) return CSlotsDefs::ERR_MEMORY;
    *pbs = b;
    *plLen = static_cast<long>(m_pbsAID.size());
    return 0;
  });
}
long CSlots::put_GDO(const WCHAR* p, long len) {
  return GuardedTraced("CSlots::put_GDO", [&]() -> long { return TakeBytes(p, len, m_pbsGDO); });
}
long CSlots::put_UID(long len, const WCHAR* p) {
  return GuardedTraced("CSlots::put_UID", [&]() -> long { return TakeBytes(p, len, m_pbsUID); });
}

long CSlots::Find(long* plIndex, DWORD* phSlot) {
  return GuardedTraced("CSlots::Find", [&]() -> long {
    if (!plIndex || !phSlot) return CSlotsDefs::ERR_INVALID_PARAMETER;
    const DWORD c = m_dwFindCriteria;
    if (c == 0 || ((c & FIND_BY_APPLICATION) && m_pbsAID.empty()) ||
        ((c & FIND_BY_READER) && m_szSlotName.empty()))
      return CSlotsDefs::ERR_INVALID_CRITERIA;
    std::lock_guard<std::recursive_mutex> g(m_CS);  // m_CS: the table walk
    long pos = 0;
    for (const auto& [index, slot] : vexa::kernel::SlotTable()) {
      (void)index;
      ++pos;
      if (pos <= *plIndex) continue;
      bool ok = true;
      if (c & FIND_BY_READER) ok = ok && slot->SlotName() == m_szSlotName;
      if (ok && (c & (FIND_BY_TOKEN | FIND_BY_APPLICATION))) ok = slot->TokenOpen();
      if (ok && (c & FIND_BY_APPLICATION)) {
        std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's attach
        std::lock_guard<std::recursive_mutex> gm(vexa::kernel::GlobalSlotMutex());  // global mutex: attaching
        CToken* t = slot->Token();
        ok = t != nullptr && t->AttachAID(m_pbsAID, {}) == 0;
      }
      Trace(4, "\tslot %ld [%s] %s\n", pos, slot->SlotName().c_str(), ok ? "matches" : "does not match");
      if (ok) {
        *plIndex = pos;
        *phSlot = slot->SlotHandle();
        m_hSlot = *phSlot;
        return 0;
      }
    }
    return -1;
  });
}

long CSlots::Attach() {
  return GuardedTraced("CSlots::Attach", [&]() -> long {
    const DWORD c = m_dwAttachCriteria;
    if (c == 0 || ((c & ATTACH_BY_GDO) && m_pbsGDO.empty()) || ((c & ATTACH_BY_AID) && m_pbsAID.empty()) ||
        m_hSlot == 0)
      return CSlotsDefs::ERR_INVALID_CRITERIA;
    std::lock_guard<std::recursive_mutex> g(m_CS);  // m_CS: the look-up of the current slot
    std::shared_ptr<CSlot> slot = FindSlot(m_hSlot, FALSE);
    if (!slot) return -1;
    long rc = 0;
    if (!slot->TokenOpen()) {
      Trace(4, "no token in reader %s\n", slot->SlotName().c_str());
      rc = CSlotsDefs::ERR_NO_TOKEN;
    } else if (c & (ATTACH_BY_AID | ATTACH_BY_GDO)) {
      std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's attach
      std::lock_guard<std::recursive_mutex> gm(vexa::kernel::GlobalSlotMutex());  // global mutex: attaching
      CToken* t = slot->Token();
      if (t == nullptr) {
        rc = CSlotsDefs::ERR_NO_TOKEN;
      } else {
        std::vector<BYTE> gdo;
        if (c & ATTACH_BY_GDO) gdo = m_pbsGDO;
        rc = t->AttachAID((c & ATTACH_BY_AID) ? std::span<const BYTE>(m_pbsAID) : std::span<const BYTE>(), gdo);
      }
    }
    if (rc == 0) m_szSlotName = slot->SlotName();
    m_dwTokenState = slot->TokenState();
    return ToKernelStatus(rc);
  });
}

long CSlots::get_SlotName(BSTR* pbs) {
  return GuardedTraced("CSlots::get_SlotName", [&]() -> long {
    if (!pbs) return CSlotsDefs::ERR_INVALID_PARAMETER;
    std::shared_ptr<CSlot> slot;
    if (long rc = CurrentSlot(slot)) return rc;
    if (!slot) return CSlotsDefs::ERR_NO_TOKEN;
    BSTR b = vexa::Utf8ToBstr(slot->SlotName());
    if (!b) return CSlotsDefs::ERR_MEMORY;
    *pbs = b;
    return 0;
  });
}

long CSlots::get_TokenState(DWORD* p) {
  return GuardedTraced("CSlots::get_TokenState", [&]() -> long {
    if (!p) return CSlotsDefs::ERR_INVALID_PARAMETER;
    std::shared_ptr<CSlot> slot;
    if (long rc = CurrentSlot(slot)) return rc;
    if (!slot) return CSlotsDefs::ERR_NO_TOKEN;
    m_dwTokenState = slot->TokenState();
    *p = m_dwTokenState;
    return 0;
  });
}

long CSlots::IsTokenPresent(BOOL* p) {
  return GuardedTraced("CSlots::IsTokenPresent", [&]() -> long {
    if (!p) return CSlotsDefs::ERR_INVALID_PARAMETER;
    std::shared_ptr<CSlot> slot = FindSlot(m_hSlot, TRUE);
    if (slot) *p = slot->TokenOpen() ? TRUE : FALSE;
    return 0;
  });
}

long CSlots::IsSameToken(DWORD* phSlot, BOOL* pbSame) {
  return GuardedTraced("CSlots::IsSameToken", [&]() -> long {
    if (!phSlot || !pbSame) return CSlotsDefs::ERR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> g(m_CS);  // m_CS: the look-up by index
    const auto& table = vexa::kernel::SlotTable();
    const auto it = table.find(CSlot::IndexOf(*phSlot));
    if (it == table.end()) return 0;
    const std::shared_ptr<CSlot> slot = it->second;
    std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: handle and UID of this slot
    const DWORD current = slot->SlotHandle();
    bool same = current == *phSlot;
    if (vexa::TraceLevel() >= 4) {
      Trace(4, "pbsOldUID %s\n", HexText(m_pbsOldUID.data(), m_pbsOldUID.size()).c_str());
      Trace(4, "m_pbsUID %s\n", HexText(slot->UID().data(), slot->UID().size()).c_str());
    }
    if (same && slot->TokenOpen() && !m_pbsOldUID.empty()) same = m_pbsOldUID == slot->UID();
    if (current != *phSlot) *phSlot = current;
    *pbSame = same ? TRUE : FALSE;
    return 0;
  });
}
