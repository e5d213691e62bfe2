// Feeds arbitrary card answers (and command records) through CCardSession's
// Send and SendExt over a fake PC/SC table: the response handling must never
// read or write outside its buffers, whatever the card says.
#include <PCSC/winscard.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "apdu_codec.h"
#include "monitor_events.h"
#include "vexa/card/card_session.h"
#include "vexa/card/pcsc_table.h"

namespace {

std::vector<BYTE> g_answer;
LONG g_transmitRc = 0;

LONG Establish(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT ph) {
  *ph = 1;
  return 0;
}
LONG Release(SCARDCONTEXT) { return 0; }
LONG List(SCARDCONTEXT, LPCSTR, LPSTR msz, LPDWORD pcch) {
  static const char names[] = "F 00 00\0";
  if (msz != nullptr) std::memcpy(msz, names, std::min<DWORD>(*pcch, sizeof names));
  *pcch = sizeof names;
  return 0;
}
LONG Connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE ph, LPDWORD proto) {
  *ph = 2;
  *proto = SCARD_PROTOCOL_T1;
  return 0;
}
LONG Reconnect(SCARDHANDLE, DWORD, DWORD, DWORD, LPDWORD) { return 0; }
LONG Disconnect(SCARDHANDLE, DWORD) { return 0; }
LONG Begin(SCARDHANDLE) { return 0; }
LONG End(SCARDHANDLE, DWORD) { return 0; }
LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE resp, LPDWORD pcb) {
  if (g_transmitRc != 0) return g_transmitRc;
  if (g_answer.size() > *pcb) return SCARD_E_INSUFFICIENT_BUFFER;
  std::memcpy(resp, g_answer.data(), g_answer.size());
  *pcb = static_cast<DWORD>(g_answer.size());
  return 0;
}
LONG GetAttrib(SCARDHANDLE, DWORD, LPBYTE, LPDWORD) { return SCARD_E_UNSUPPORTED_FEATURE; }
LONG StatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* rs, DWORD) {
  rs->dwEventState = SCARD_STATE_PRESENT;
  return 0;
}
LONG Cancel(SCARDCONTEXT) { return 0; }
LONG Free(SCARDCONTEXT, LPCVOID) { return 0; }

const vexa::card::PcscFunctions kTable = {&Establish, &Release, &List,     &Connect,      &Reconnect,
                                          &Disconnect, &Begin,  &End,      &Transmit,     &GetAttrib,
                                          &StatusChange, &Cancel, &Free, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Layout: 12 bytes of APDU record fields, 1 byte of options, 2 bytes of
  // capacity, then the card's answer.
  if (size < 15) return 0;
  vexa::card::SetPcscFunctions(&kTable);
  std::vector<BYTE> cmdData(600, 0x5A);
  APDU a;
  a.CLA = data[0];
  a.INS = data[1];
  a.P1 = data[2];
  a.P2 = data[3];
  a.Lc = data[4];
  a.Le = data[5];
  a.bExtended = data[6] & 1;
  a.LcExtHi = data[7] & 0x01;  // at most 511 data bytes, within cmdData
  a.LcExtLo = data[8];
  a.LeExtHi = data[9];
  a.LeExtLo = data[10];
  a.pData = (data[11] & 1) ? cmdData.data() : nullptr;
  const BYTE options = data[12];
  const WORD capacity = static_cast<WORD>((data[13] << 8) | data[14]);
  g_answer.assign(data + 15, data + size);
  g_transmitRc = (options & 0x80) ? SCARD_F_COMM_ERROR : 0;

  CCardSession s;
  s.InitRM();
  s.Connect("F 00 00");
  s.Set_ChannelUsed(options & 0x03);
  std::vector<BYTE> out(capacity);
  BYTE sw1 = 0, sw2 = 0;
  if (options & 0x10) {
    WORD len = capacity;
    s.SendExt(a, out.data(), &len, &sw1, &sw2);
    if (len > capacity) __builtin_trap();
  } else {
    BYTE len = static_cast<BYTE>(std::min<WORD>(capacity, 255));
    const BYTE cap = len;
    s.Send(a, out.data(), &len);
    if (len > cap) __builtin_trap();
  }
  // The pure helpers on the same bytes.
  std::vector<BYTE> encoded;
  vexa::card::EncodeCommand(a, options & 3, (options & 0x10) ? vexa::card::SendForm::kSendExt
                                                            : vexa::card::SendForm::kSend, encoded);
  DWORD prev = 0, now = 0;
  std::memcpy(&prev, data, 4);
  std::memcpy(&now, data + 4, 4);
  vexa::card::ClassifyChange(prev, now);
  vexa::card::SetPcscFunctions(nullptr);
  return 0;
}
