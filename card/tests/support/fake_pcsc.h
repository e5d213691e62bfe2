// A fake PC/SC service for unit tests: readers, cards, exclusive holders and a
// scripted card answer, installed in place of libpcsclite through the card
// library's function table. It mimics pcsc-lite where the tests rely on it: an
// empty reader refuses a connection with SCARD_E_NO_SMARTCARD, a card event
// raises the count in the high 16 bits of the event state, a vanished reader
// reports SCARD_STATE_UNKNOWN, and a cancellation reaches only a wait that is
// in progress.
#pragma once

#include <PCSC/winscard.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "vexa/card/pcsc_table.h"

namespace vexa::card::test {

class FakePcsc {
 public:
  // The card's answer to a command (data and status bytes); the default answers 90 00.
  using CardFn = std::function<std::vector<BYTE>(const std::vector<BYTE>& command)>;

  FakePcsc();   // installs itself
  ~FakePcsc();  // puts libpcsclite back

  // ---- the test bed ----
  void AddReader(const std::string& name, bool card, std::vector<BYTE> atr = {0x3B, 0x00});
  void SetCard(const std::string& name, bool present);
  void RemoveReader(const std::string& name);
  void SetExclusive(const std::string& name, bool held);  // another process holds it
  // Results that EstablishContext gives, one per call, before it succeeds.
  void ScriptEstablish(std::deque<LONG> results);
  // Results that Transmit gives, one per call, before the card answers.
  void ScriptTransmit(std::deque<LONG> results);
  // Makes every GetStatusChange fail with rc (0: back to normal).
  void FailStatusChange(LONG rc);
  void SetCardFn(CardFn fn);

  // ---- what happened ----
  std::vector<std::vector<BYTE>> Sent() const;  // commands that reached the card
  int TransmitCalls() const;
  int ReconnectCalls() const;
  int EstablishCalls() const;
  std::vector<DWORD> EstablishScopes() const;
  int LiveContexts() const;   // established and not released
  int LiveHandles() const;    // connected and not disconnected
  int Transactions() const;   // begun and not ended
  // Waits (up to timeoutMs) until n GetStatusChange calls with a time limit
  // other than 0 are in progress.
  bool WaitForWaiters(int n, int timeoutMs) const;
  // GetStatusChange calls with a time limit other than 0 now in progress.
  int Waiting() const;

 private:
  struct Reader {
    bool card = false;
    bool exclusive = false;
    std::vector<BYTE> atr;
    DWORD counter = 0;
  };
  DWORD StateOf(const std::string& name) const;  // lock held

  // The table's functions.
  static LONG Establish(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT);
  static LONG Release(SCARDCONTEXT);
  static LONG List(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD);
  static LONG Connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE, LPDWORD);
  static LONG Reconnect(SCARDHANDLE, DWORD, DWORD, DWORD, LPDWORD);
  static LONG Disconnect(SCARDHANDLE, DWORD);
  static LONG Begin(SCARDHANDLE);
  static LONG End(SCARDHANDLE, DWORD);
  static LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*,
                       LPBYTE, LPDWORD);
  static LONG GetAttrib(SCARDHANDLE, DWORD, LPBYTE, LPDWORD);
  static LONG StatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD);
  static LONG Cancel(SCARDCONTEXT);
  static LONG Free(SCARDCONTEXT, LPCVOID);

  mutable std::mutex m_m;
  mutable std::condition_variable m_cv;
  std::map<std::string, Reader> m_readers;
  std::vector<std::string> m_order;
  std::deque<LONG> m_establish;
  std::deque<LONG> m_transmit;
  LONG m_statusFail = 0;
  CardFn m_card;
  std::vector<std::vector<BYTE>> m_sent;
  int m_transmitCalls = 0, m_reconnectCalls = 0, m_establishCalls = 0;
  std::vector<DWORD> m_scopes;
  std::set<SCARDCONTEXT> m_contexts;
  std::map<SCARDHANDLE, std::string> m_handles;
  int m_transactions = 0;
  std::map<SCARDCONTEXT, int> m_waiting;  // waits in progress per context
  std::set<SCARDCONTEXT> m_cancelled;
  SCARDCONTEXT m_nextContext = 0x1000;
  SCARDHANDLE m_nextHandle = 0x2000;
  PcscFunctions m_table{};
};

}  // namespace vexa::card::test
