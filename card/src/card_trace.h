// Entry and exit lines of the card access library's trace (level 1).
#pragma once

#include <PCSC/pcsclite.h>

#include "vexa/platform/trace.h"

namespace vexa::card {

inline void TraceIn(const char* method) { Trace(1, "IN  -> %s\n", method); }

inline void TraceOut(const char* method, LONG rc) {
  if (rc == 0) {
    Trace(1, "OUT -> %s\n", method);
  } else {
    Trace(1, "OUT -> %s - 0x%08lX\n", method, static_cast<unsigned long>(static_cast<DWORD>(rc)));
  }
}

}  // namespace vexa::card
