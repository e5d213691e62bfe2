// Card removal and reinsertion as the engine sees them: the demo runs the
// commands that take the card out and put it back, and waits (with a time
// limit) on CSlots::get_SlotEvent until the reader's slot shows each change.
#pragma once

#include <string>

#include "vexa/kernel/slots.h"

namespace vexademo {

struct EventJob {
  std::string reader;      // the reader whose card is taken out
  std::string removeCmd;   // shell command that removes the card
  std::string insertCmd;   // shell command that puts it back
  int timeoutMs = 10000;   // for each event
};

// True when both events reached the engine and the token is open again.
bool RunEventJob(CSlots& slots, const EventJob& job);

}  // namespace vexademo
