// Start and stop of the card access library: its own trace file
// "vexacard.log" (in the trace folder), level from HKLM value "vexacard".
#include "vexa/card/card_session.h"
#include "vexa/platform/trace.h"

namespace {

__attribute__((constructor)) void CardLibraryStart() {
  try {
    TraceOpen(vexa::TraceFilePath("vexacard.log").c_str(), "vexacard", 4);
  } catch (...) {
  }
}

__attribute__((destructor)) void CardLibraryStop() { TraceClose(); }

}  // namespace
