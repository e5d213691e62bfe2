#include "monitor_events.h"

#include "vexa/card/card_monitor.h"

namespace vexa::card {
namespace {

// Low 16 bits: the state flags. pcsc-lite keeps a count of card events in the
// high 16 bits of the event state.
constexpr DWORD kFlags = 0x0000FFFF;
constexpr DWORD kGoneWindows = SCARD_STATE_UNAVAILABLE | SCARD_STATE_CHANGED | SCARD_STATE_IGNORE;
// Card not yet usable (mute, unpowered and the like). "In use" (0x100) only says
// that some process holds a connection: it comes and goes with the engine's own
// sessions and says nothing about the card, so it does not hide events.
constexpr DWORD kNotReady = 0x0000FF00 & ~static_cast<DWORD>(SCARD_STATE_INUSE);

}  // namespace

MonitorReport ClassifyChange(DWORD prev, DWORD now) noexcept {
  MonitorReport r;
  const bool wasPresent = (prev & SCARD_STATE_PRESENT) != 0;
  const bool wasEmpty = (prev & SCARD_STATE_EMPTY) != 0;
  const bool isPresent = (now & SCARD_STATE_PRESENT) != 0;
  const bool isEmpty = (now & SCARD_STATE_EMPTY) != 0;

  if ((now & kFlags) == kGoneWindows || (now & SCARD_STATE_UNKNOWN) != 0) {
    // The reader went away (Windows: unavailable; pcsc-lite: unknown reader).
    r.events[0] = CARD_EVENT_READER_GONE;
    r.toExternal = true;
    r.readerGone = true;
    return r;
  }
  if (wasPresent && isEmpty) {
    // A card that left is reported whatever else the state says.
    r.events[0] = CARD_EVENT_REMOVED;
    r.toExternal = r.toInternal = true;
    return r;
  }
  if (wasPresent && isPresent && (prev >> 16) != (now >> 16) && (prev >> 16) != 0) {
    // The event count moved while the card stayed present: it was removed and
    // a card inserted between two waits. The engine must drop the old token.
    r.events[0] = CARD_EVENT_REMOVED;
    if ((now & kNotReady) == 0) r.events[1] = CARD_EVENT_INSERTED;
    r.toExternal = r.toInternal = true;
    return r;
  }
  if ((now & kNotReady) != 0) return r;
  if (wasEmpty && isPresent) {
    r.events[0] = CARD_EVENT_INSERTED;
    r.toExternal = r.toInternal = true;
    return r;
  }
  if (wasEmpty) {
    r.events[0] = CARD_EVENT_PRESENT;
    r.toInternal = true;
  }
  return r;
}

}  // namespace vexa::card
