#include "demo_events.h"

#include <chrono>
#include <cstdlib>
#include <cstdio>

#include "demo_report.h"
#include "demo_slots.h"
#include "vexa/kernel/slot.h"
#include "vexa/platform/widebytes.h"

namespace vexademo {
namespace {

using Clock = std::chrono::steady_clock;

std::string HandleText(DWORD h) {
  char b[16];
  std::snprintf(b, sizeof b, "%08lX", static_cast<unsigned long>(h));
  return b;
}

// Polls get_SlotEvent (200 ms each) until an event came and the reader's slot
// is in state want. Events that came while nobody polled stay pending for the
// next poll, so an event of the command just run is never missed.
bool WaitState(CSlots& slots, const std::string& reader, DWORD want, int timeoutMs, DWORD* handle) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bool seen = false;
  for (;;) {
    long index = -1;
    if (slots.get_SlotEvent(&index, FALSE) != 0) return false;
    if (index >= 0) {
      seen = true;
      Line("get_SlotEvent: event on slot index " + std::to_string(index));
    }
    if (seen && StateOfReader(reader, handle) == want) return true;
    if (Clock::now() > end) return false;
  }
}

bool Run(const std::string& cmd) {
  std::fflush(stdout);
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

bool RunEventJob(CSlots& slots, const EventJob& job) {
  DWORD before = 0;
  StateOfReader(job.reader, &before);
  long index = -1;
  slots.get_SlotEvent(&index, FALSE);  // joins the event list; drops an old event

  Line("removing the card from \"" + job.reader + "\"");
  if (!Run(job.removeCmd)) {
    Line("the removal command failed");
    return false;
  }
  DWORD h = 0;
  if (!WaitState(slots, job.reader, CSlot::TOKEN_REMOVED, job.timeoutMs, &h)) {
    Line("the engine did not see the removal in time");
    return false;
  }
  Line("slot " + HandleText(h) + ": " + StateName(CSlot::TOKEN_REMOVED));

  Line("inserting the card again");
  if (!Run(job.insertCmd)) {
    Line("the insertion command failed");
    return false;
  }
  if (!WaitState(slots, job.reader, CSlot::TOKEN_OPEN, job.timeoutMs, &h)) {
    Line("the engine did not open the token again in time");
    return false;
  }
  Line("slot " + HandleText(h) + ": " + StateName(CSlot::TOKEN_OPEN));

  // The old handle is stale: the engine gave the new card a new generation.
  DWORD old = before;
  BOOL same = TRUE;
  slots.IsSameToken(&old, &same);
  Line("old handle " + HandleText(before) + " still valid: " + (same ? "yes" : "no") +
       "; current handle " + HandleText(old));
  return true;
}

}  // namespace vexademo
