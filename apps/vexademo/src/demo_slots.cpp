#include "demo_slots.h"

#include <chrono>
#include <mutex>

#include "demo_report.h"
#include "vexa/kernel/slot.h"
#include "vexa/platform/widebytes.h"

namespace vexademo {
namespace {

std::string Text(BSTR s) {
  vexa::UniqueBstr owner(s);
  return vexa::BstrToUtf8(s).value_or("");
}

std::vector<uint8_t> Bytes(BSTR s) {
  vexa::UniqueBstr owner(s);
  return vexa::BstrToBytes(s).value_or(std::vector<BYTE>{});
}

// The ATR of the open token, read through the engine's own card session.
std::vector<uint8_t> AtrOf(DWORD handle) {
  std::shared_ptr<CSlot> slot = CSlots::FindSlot(handle);
  if (!slot) return {};
  std::lock_guard<std::recursive_mutex> lock(slot->Lock());  // the token's card session
  CToken* token = slot->Token();
  if (token == nullptr) return {};
  BYTE atr[36];
  DWORD len = sizeof atr;
  if (token->Card().GetATR(atr, &len) != 0 || len > sizeof atr) return {};
  return {atr, atr + len};
}

}  // namespace

std::vector<SlotInfo> ListSlots(CSlots& slots) {
  std::vector<SlotInfo> out;
  slots.put_FindCriteria(CSlots::FIND_ANY_SLOT);
  long index = 0;
  DWORD h = 0;
  while (slots.Find(&index, &h) == 0) {
    SlotInfo info;
    info.handle = h;
    BSTR name = nullptr;
    if (slots.get_SlotName(&name) == 0) info.reader = Text(name);
    slots.get_TokenState(&info.state);
    BOOL present = FALSE;
    slots.IsTokenPresent(&present);
    info.token = present != FALSE;
    if (info.token) {
      slots.get_TokenVersion(&info.major, &info.minor);
      long len = 0;
      BSTR uid = nullptr;
      if (slots.get_UID(&len, &uid) == 0) info.uid = Bytes(uid);
      info.atr = AtrOf(h);
    }
    out.push_back(std::move(info));
  }
  return out;
}

const SlotInfo* FirstToken(const std::vector<SlotInfo>& list) {
  for (const auto& s : list)
    if (s.token) return &s;
  return nullptr;
}

bool WaitForToken(CSlots& slots, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    CSlots probe;
    probe.put_FindCriteria(CSlots::FIND_BY_TOKEN);
    long index = 0;
    DWORD h = 0;
    if (probe.Find(&index, &h) == 0) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    long event = -1;
    if (slots.get_SlotEvent(&event, FALSE) != 0) return false;
  }
}

void PrintSlots(const std::vector<SlotInfo>& list) {
  for (const auto& s : list) {
    char h[16];
    std::snprintf(h, sizeof h, "%08lX", static_cast<unsigned long>(s.handle));
    Line("slot " + std::string(h) + "  reader \"" + s.reader + "\"  " + StateName(s.state));
    if (!s.token) continue;
    Line("    card OS " + VersionName(s.major, s.minor) + " (" + std::to_string(s.major) + "," +
         std::to_string(s.minor) + ")");
    Line("    ATR " + Hex(s.atr));
    Line("    UID " + Hex(s.uid));
  }
}

std::string VersionName(long major, long minor) {
  if (major == 3 && minor == 0) return "M3";
  if (major != 4) return "unknown";
  switch (minor) {
    case 0: return "M4.0";
    case 1: return "M4.01";
    case 2: return "M4.01a";
    case 10: return "M4.10";
    case 20: return "M4.20";
    case 43: return "M4.2b";
    case 40: return "M4.40";
    default: return "unknown";
  }
}

DWORD StateOfReader(const std::string& reader, DWORD* handle) {
  CSlots probe;  // its own criteria and current slot, so the caller's stay as they are
  probe.put_FindCriteria(CSlots::FIND_ANY_SLOT);
  long index = 0;
  DWORD h = 0;
  while (probe.Find(&index, &h) == 0) {
    BSTR name = nullptr;
    if (probe.get_SlotName(&name) != 0 || Text(name) != reader) continue;
    DWORD state = 0;
    probe.get_TokenState(&state);
    if (handle != nullptr) *handle = h;
    return state;
  }
  return 0;
}

std::string StateName(DWORD state) {
  switch (state) {
    case CSlot::TOKEN_INSERTED: return "card inserted, token opening";
    case CSlot::TOKEN_REMOVED: return "empty (card removed)";
    case CSlot::TOKEN_INITIAL: return "empty";
    case CSlot::TOKEN_OPEN: return "token open";
    case CSlot::TOKEN_NO_READER: return "reader gone";
    default: return "state " + std::to_string(state);
  }
}

}  // namespace vexademo
