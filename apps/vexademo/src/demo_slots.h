// The engine's view: the slot table of libvexakernel, as an application sees it
// through CSlots (one slot per reader, a token in each reader holding a card).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/kernel/slots.h"

namespace vexademo {

struct SlotInfo {
  DWORD handle = 0;
  std::string reader;
  DWORD state = 0;               // CSlot::tTOKEN_STATE
  bool token = false;            // the token is open
  long major = -1, minor = -1;   // card OS version
  std::vector<uint8_t> uid;      // 7 bytes
  std::vector<uint8_t> atr;
};

// Every slot the table lists, with its token's details when one is open.
std::vector<SlotInfo> ListSlots(CSlots& slots);
// The first slot of the list with an open token, or null.
const SlotInfo* FirstToken(const std::vector<SlotInfo>& list);
// Polls get_SlotEvent until some slot has an open token; false after timeoutMs.
bool WaitForToken(CSlots& slots, int timeoutMs);
// Prints the list.
void PrintSlots(const std::vector<SlotInfo>& list);
// "M4.40" for (4,40), "unknown" for a pair the engine does not name.
std::string VersionName(long major, long minor);
// The state of the slot of that reader, or 0 when the table has none.
DWORD StateOfReader(const std::string& reader, DWORD* handle = nullptr);
// A readable name of a token state.
std::string StateName(DWORD state);

}  // namespace vexademo
