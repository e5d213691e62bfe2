// The process-wide slot table: loading, releasing, look-ups, and the card
// monitoring callback through which insertions and removals reach it.
//
// Locks, outermost first:
//   the load mutex   - serialises LoadSlots, UnloadSlots and the releases of the
//                      table, and guards the load count's changes; never taken
//                      by a monitoring thread except with try_lock
//   CSlots::m_CS     - the table itself and the index counter
//   a slot's lock, then the global slot mutex (slot.h)
// Monitoring is stopped only with the load mutex held and none of the others,
// so a callback that is waiting for the table or a slot can always finish.
#include <PCSC/pcsclite.h>

#include <atomic>
#include <exception>
#include <string>

#include "kernel_guard.h"
#include "kernel_hooks.h"
#include "slot_table.h"
#include "vexa/card/card_session.h"
#include "vexa/kernel/slots.h"
#include "vexa/platform/module.h"
#include "vexa/platform/trace.h"

namespace vexa::kernel {
namespace {

struct TableState {
  std::mutex loadMu;               // the load mutex (see above)
  std::recursive_mutex cs;         // CSlots::m_CS: table and nextIndex
  std::recursive_mutex global;     // the global slot mutex
  SlotMap table;                   // guarded by cs
  BYTE nextIndex = 0;              // last index given (cs); 0 after a release
  std::atomic<long> timesLoaded{0};       // LoadSlots calls not yet balanced (changed under loadMu)
  std::atomic<bool> monitorStopPending{false};  // the table went from a monitoring thread
};

TableState& State() {
  static vexa::NoDestructor<TableState> s;
  return *s;
}

// Takes every slot out of the table (clearing each token's shared directory
// block under the slot's lock) and restarts the index counter. The slots are
// destroyed, closing their tokens, when the caller drops the map.
SlotMap TakeAllSlots() {
  SlotMap old;
  {
    std::lock_guard<std::recursive_mutex> g(State().cs);  // m_CS: taking the table out
    old.swap(State().table);
    State().nextIndex = 0;
  }
  for (auto& [index, slot] : old) {
    (void)index;
    std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: the token's shared block
    try {
      if (CToken* t = slot->Token()) t->SharedData().Reset();
    } catch (...) {
      Trace(4, "Error reset globaldata\n");
    }
  }
  return old;
}

// The release of the table from a client thread (load mutex held).
void ReleaseTable() {
  SlotMap old = TakeAllSlots();
  AbortSlotEventWaiters();
  CCardSession::StopCardMonitoring();
  State().monitorStopPending = false;
  old.clear();
}

bool AllReadersGone() {
  std::lock_guard<std::recursive_mutex> g(State().cs);  // m_CS: the walk over the states
  for (const auto& [index, slot] : State().table) {
    (void)index;
    if (slot->TokenState() != CSlot::TOKEN_NO_READER) return false;
  }
  return true;
}

}  // namespace

SlotMap& SlotTable() { return State().table; }
long SlotsTimesLoaded() { return State().timesLoaded; }
std::recursive_mutex& GlobalSlotMutex() { return State().global; }
std::recursive_mutex& SlotTableCS() { return State().cs; }

BYTE NextSlotIndex() {
  if (State().nextIndex == 0xFF) return 0;
  return ++State().nextIndex;
}

void UnloadSlotsFromMonitor() {
  // The load mutex is never waited for on a monitoring thread.
  std::unique_lock<std::mutex> lk(State().loadMu, std::try_to_lock);
  if (!lk.owns_lock()) {
    Trace(4, "\tslot list busy: not released after the reader went away\n");
    return;
  }
  SlotMap old;
  if (State().timesLoaded == 1) {
    old = TakeAllSlots();
    AbortSlotEventWaiters();
    State().monitorStopPending = true;
  }
  if (State().timesLoaded > 0) --State().timesLoaded;
  lk.unlock();
  old.clear();
}

void SlotEventCallback(const char* szReader, int nEvent) {
  try {
    if (szReader == nullptr) return;
    DWORD newState = 0;
    switch (nEvent) {
      case CARD_EVENT_INSERTED: newState = CSlot::TOKEN_INSERTED; break;
      case CARD_EVENT_REMOVED: newState = CSlot::TOKEN_REMOVED; break;
      case CARD_EVENT_READER_GONE: newState = CSlot::TOKEN_NO_READER; break;
      default: return;  // a card present at the start of monitoring: already opened
    }
    std::shared_ptr<CSlot> slot;
    {
      std::lock_guard<std::recursive_mutex> g(State().cs);  // m_CS: the look-up by reader name
      for (const auto& [index, s] : State().table) {
        (void)index;
        if (s->SlotName() == szReader) {
          slot = s;
          break;
        }
      }
    }
    if (!slot) {
      Trace(4, "\tUnhandled smartcard reader %s\n", szReader);
      return;
    }
    bool gone = false;
    {
      std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: event handling for this slot
      gone = slot->StateChange(newState);
    }
    // The table is released only when its last reader went (and nobody else
    // holds it); every lock is free again here.
    if (gone && AllReadersGone()) UnloadSlotsFromMonitor();
  } catch (const std::exception& e) {
    Trace(1, "\tslot event callback - exception: %s\n", e.what());
  } catch (...) {
    Trace(1, "\tslot event callback - unknown exception\n");
  }
}

// The stop hook's UnloadSlots step: the engine is going away, so whatever the
// load count, the table is released and monitoring stopped (a monitoring thread
// must not call into an unloaded engine).
void UnloadSlotsAtStop() {
  try {
    std::lock_guard<std::mutex> lk(State().loadMu);  // load mutex: the release at stop
    if (State().timesLoaded > 0 || State().monitorStopPending) ReleaseTable();
    State().timesLoaded = 0;
  } catch (...) {
    Trace(1, "\tUnloadSlots at stop - exception\n");
  }
}

}  // namespace vexa::kernel

using vexa::kernel::State;

std::recursive_mutex& CSlots::m_CS = vexa::kernel::SlotTableCS();

long CSlots::LoadSlots(int bWinLogon) {
  return vexa::kernel::GuardedTraced("CSlots::LoadSlots", [&]() -> long {
    Trace(4, "bWinLogon: %s\r\n", bWinLogon ? "True" : "False");
    std::lock_guard<std::mutex> lk(State().loadMu);  // load mutex: load count and table build
    if (State().timesLoaded != 0) {
      ++State().timesLoaded;
      Trace(4, "TIMES LOADED %ld\n", State().timesLoaded.load());
      return 0;
    }
    if (State().monitorStopPending) {
      CCardSession::StopCardMonitoring();
      State().monitorStopPending = false;
    }
    State().timesLoaded = 1;
    try {
      CCardSession session;
      std::vector<std::string> readers;
      LONG rc = SCARD_E_NO_SERVICE;
      if (session.InitRM()) rc = session.GetReaderList(FALSE, readers);
      Trace(4, "\treader list: %zu readers (0x%08x)\n", readers.size(), static_cast<unsigned>(rc));
      for (const std::string& name : readers) {
        std::shared_ptr<CSlot> slot;
        {
          std::lock_guard<std::recursive_mutex> g(m_CS);  // m_CS: insertion into the table
          const BYTE index = vexa::kernel::NextSlotIndex();
          if (index == 0) {
            Trace(4, "\tno slot index left for %s\n", name.c_str());
            break;
          }
          slot = std::make_shared<CSlot>(index, name);
          State().table[index] = slot;
        }
        std::lock_guard<std::recursive_mutex> s(slot->Lock());  // slot lock: opening this slot's token
        slot->OpenToken();  // a reader whose card cannot be opened keeps its slot
      }
    } catch (...) {
      Trace(4, "OUT -> LoadSlots EXCEPTION\n");
    }
    return 0;
  });
}

long CSlots::UnloadSlots() {
  return vexa::kernel::GuardedTraced("CSlots::UnloadSlots", [&]() -> long {
    std::lock_guard<std::mutex> lk(State().loadMu);  // load mutex: load count and release
    if (State().timesLoaded == 1) vexa::kernel::ReleaseTable();
    if (State().timesLoaded > 0) --State().timesLoaded;
    return 0;
  });
}

BOOL CSlots::AlreadyLoaded() { return State().timesLoaded >= 1 ? TRUE : FALSE; }

std::shared_ptr<CSlot> CSlots::FindSlot(DWORD hSlot, BOOL bLock) {
  try {
    std::unique_lock<std::recursive_mutex> g(m_CS, std::defer_lock);  // m_CS (when asked): the look-up
    if (bLock) g.lock();
    const auto it = State().table.find(CSlot::IndexOf(hSlot));
    if (it == State().table.end() || it->second->SlotHandle() != hSlot) return nullptr;
    return it->second;
  } catch (...) {
    return nullptr;
  }
}

long CSlots::AddSlot(std::shared_ptr<CSlot> slot) {
  return vexa::kernel::Guarded("CSlots::AddSlot", [&]() -> long {
    if (!slot || slot->Index() == 0) return CSlotsDefs::ERR_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> g(m_CS);  // m_CS: insertion
    if (!State().table.emplace(slot->Index(), slot).second) return CSlotsDefs::ERR_INVALID_PARAMETER;
    if (slot->Index() > State().nextIndex) State().nextIndex = slot->Index();
    return 0;
  });
}

long CSlots::RemoveSlot(DWORD hSlot) {
  return vexa::kernel::Guarded("CSlots::RemoveSlot", [&]() -> long {
    std::shared_ptr<CSlot> slot;
    {
      std::lock_guard<std::recursive_mutex> g(m_CS);  // m_CS: removal
      slot = FindSlot(hSlot, FALSE);
      if (!slot) return CSlotsDefs::ERR_NO_SLOT_FOUND;
      State().table.erase(slot->Index());
    }
    return 0;  // the slot closes its token when the last holder lets it go
  });
}

long CSlots::RemoveAllSlots() {
  return vexa::kernel::Guarded("CSlots::RemoveAllSlots", [&]() -> long {
    vexa::kernel::SlotMap old = vexa::kernel::TakeAllSlots();
    return 0;
  });
}
