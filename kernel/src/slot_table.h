// The process-wide slot table behind CSlots and the slot events (internal).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "vexa/kernel/slot.h"
#include "vexa/platform/wintypes.h"

namespace vexa::kernel {

// The table, keyed by slot index; guarded by CSlots::m_CS.
using SlotMap = std::map<BYTE, std::shared_ptr<CSlot>>;
SlotMap& SlotTable();
// The global slot mutex: serialises opening, closing, attaching, state changes
// and state queries of every slot. Taken after CSlots::m_CS and a slot's lock.
std::recursive_mutex& GlobalSlotMutex();

// The next slot index (1..255), 0 when none is left. Under CSlots::m_CS.
BYTE NextSlotIndex();

// The monitoring callback: a card event (code 1..4) for a reader.
void SlotEventCallback(const char* szReader, int nEvent);

// The UnloadSlots step run when the last reader of the table went away, from a
// monitoring thread: it cannot stop monitoring there, so it leaves that to the
// next LoadSlots, UnloadSlots or the engine's stop.
void UnloadSlotsFromMonitor();

// ---- slot events (slot_events.cpp) ----
// Records index as the latest event and wakes every waiter ("skip to signal
// events" when there is none).
void SignalSlotEvent(BYTE index);
// Wakes every blocking waiter with a failure: the table is being released.
void AbortSlotEventWaiters();
// The wait of CSlots::get_SlotEvent. 0 or -1.
long WaitSlotEvent(long* plIndex, bool bBlocking);
// The number of get_SlotEvent calls blocked now (tests wait for a waiter with it).
std::size_t BlockingSlotEventWaiters();
// LoadSlots calls not yet balanced by UnloadSlots.
long SlotsTimesLoaded();

}  // namespace vexa::kernel
