// What a reader's state change means for the monitoring callbacks: a pure
// function of the previous and the new PC/SC event state, tested on its own.
#pragma once

#include <PCSC/pcsclite.h>

namespace vexa::card {

struct MonitorReport {
  // Up to two events in order (a card exchanged between two waits gives
  // removal, then insertion); 0 = none.
  int events[2] = {0, 0};
  bool toExternal = false;  // events go to the external callback
  bool toInternal = false;  // events go to the internal callback
  bool readerGone = false;  // the thread has nothing more to watch
};

MonitorReport ClassifyChange(DWORD prev, DWORD now) noexcept;

}  // namespace vexa::card
