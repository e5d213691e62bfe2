// Slot events: waiters in get_SlotEvent are woken by the state changes that the
// monitoring threads make.
//
// Blocking waiters each get an auto-reset event of their own, appended to the
// list for the length of their wait. Non-blocking calls share one auto-reset
// event at the head of the list, made by the first such call and kept: an
// event that arrives while nobody polls stays pending for the next poll. That
// event is private to the process: the slot index it reports belongs to this
// process's table, so another process must neither consume nor raise it.
#include <list>
#include <memory>
#include <mutex>

#include "slot_table.h"
#include "vexa/platform/event.h"
#include "vexa/platform/module.h"
#include "vexa/platform/trace.h"

namespace vexa::kernel {
namespace {

struct Waiter {
  vexa::Event event{false};  // auto reset
  // Guarded by EventState::mu:
  bool hasEvent = false;     // a blocking waiter was woken by an event ...
  long index = 0;            // ... of this slot (the first one after it began)
  bool aborted = false;      // the table was released before any event came
};

struct EventState {
  std::mutex mu;  // guards the fields below; a leaf lock (nothing is taken under it)
  std::shared_ptr<Waiter> nonBlocking;             // head of the list once made
  std::list<std::shared_ptr<Waiter>> blocking;     // one entry per blocking wait
  long latest = 0;                                 // slot index of the latest event
};

EventState& Events() {
  static vexa::NoDestructor<EventState> s;
  return *s;
}

constexpr DWORD kPollMs = 200;

}  // namespace

void SignalSlotEvent(BYTE index) {
  EventState& s = Events();
  std::lock_guard<std::mutex> g(s.mu);  // mu: waiters and latest index
  if (!s.nonBlocking && s.blocking.empty()) {
    Trace(4, "\tskip to signal events\n");
    return;
  }
  s.latest = index;
  if (s.nonBlocking) s.nonBlocking->event.Set();
  for (auto& w : s.blocking) {
    if (!w->hasEvent) {
      w->hasEvent = true;
      w->index = index;
    }
    w->event.Set();
  }
}

void AbortSlotEventWaiters() {
  EventState& s = Events();
  std::lock_guard<std::mutex> g(s.mu);  // mu: the blocking waiters
  for (auto& w : s.blocking) {
    if (w->hasEvent) continue;  // its event came first: it reports that
    w->aborted = true;
    w->event.Set();
  }
}

std::size_t BlockingSlotEventWaiters() {
  EventState& s = Events();
  std::lock_guard<std::mutex> g(s.mu);  // mu: the blocking waiters
  return s.blocking.size();
}

long WaitSlotEvent(long* plIndex, bool bBlocking) {
  EventState& s = Events();
  std::shared_ptr<Waiter> w;
  std::list<std::shared_ptr<Waiter>>::iterator entry;
  {
    std::lock_guard<std::mutex> g(s.mu);  // mu: joining the waiters
    if (bBlocking) {
      w = std::make_shared<Waiter>();
      entry = s.blocking.insert(s.blocking.end(), w);
    } else {
      if (!s.nonBlocking) s.nonBlocking = std::make_shared<Waiter>();
      w = s.nonBlocking;
    }
  }
  const WaitResult r = w->event.Wait(bBlocking ? vexa::kInfinite : kPollMs);
  std::lock_guard<std::mutex> g(s.mu);  // mu: leaving the waiters, reading the event
  if (bBlocking) s.blocking.erase(entry);
  if (r == WaitResult::Timeout && !bBlocking) {
    *plIndex = -1;
    Trace(1, "OUT -> CSlots::get_SlotEvent - NO EVENT\n");
    return 0;
  }
  if (r != WaitResult::Signalled || w->aborted) return -1;
  *plIndex = bBlocking ? w->index : s.latest;
  Trace(4, "Event on Slot %ld\n", *plIndex);
  return 0;
}

}  // namespace vexa::kernel
