#include "fake_pcsc.h"

#include <PCSC/reader.h>

#include <chrono>
#include <cstring>

namespace vexa::card::test {
namespace {
FakePcsc* g_fake = nullptr;  // the installed fake (not owned)
}

FakePcsc::FakePcsc() {
  m_card = [](const std::vector<BYTE>&) { return std::vector<BYTE>{0x90, 0x00}; };
  m_table = {&Establish, &Release, &List,     &Connect,      &Reconnect, &Disconnect, &Begin,
             &End,       &Transmit, &GetAttrib, &StatusChange, &Cancel,    &Free, nullptr};
  g_fake = this;
  SetPcscFunctions(&m_table);
}

FakePcsc::~FakePcsc() {
  SetPcscFunctions(nullptr);
  g_fake = nullptr;
}

void FakePcsc::AddReader(const std::string& name, bool card, std::vector<BYTE> atr) {
  std::lock_guard<std::mutex> l(m_m);
  m_readers[name] = Reader{card, false, std::move(atr), 0};
  m_order.push_back(name);
  m_cv.notify_all();
}

void FakePcsc::SetCard(const std::string& name, bool present) {
  std::lock_guard<std::mutex> l(m_m);
  Reader& r = m_readers.at(name);
  if (r.card != present) {
    r.card = present;
    ++r.counter;
  }
  m_cv.notify_all();
}

void FakePcsc::RemoveReader(const std::string& name) {
  std::lock_guard<std::mutex> l(m_m);
  m_readers.erase(name);
  std::erase(m_order, name);
  m_cv.notify_all();
}

void FakePcsc::SetExclusive(const std::string& name, bool held) {
  std::lock_guard<std::mutex> l(m_m);
  m_readers.at(name).exclusive = held;
}

void FakePcsc::ScriptEstablish(std::deque<LONG> results) {
  std::lock_guard<std::mutex> l(m_m);
  m_establish = std::move(results);
}

void FakePcsc::ScriptTransmit(std::deque<LONG> results) {
  std::lock_guard<std::mutex> l(m_m);
  m_transmit = std::move(results);
}

void FakePcsc::FailStatusChange(LONG rc) {
  std::lock_guard<std::mutex> l(m_m);
  m_statusFail = rc;
  m_cv.notify_all();
}

void FakePcsc::SetCardFn(CardFn fn) {
  std::lock_guard<std::mutex> l(m_m);
  m_card = std::move(fn);
}

std::vector<std::vector<BYTE>> FakePcsc::Sent() const {
  std::lock_guard<std::mutex> l(m_m);
  return m_sent;
}
int FakePcsc::TransmitCalls() const {
  std::lock_guard<std::mutex> l(m_m);
  return m_transmitCalls;
}
int FakePcsc::ReconnectCalls() const {
  std::lock_guard<std::mutex> l(m_m);
  return m_reconnectCalls;
}
int FakePcsc::EstablishCalls() const {
  std::lock_guard<std::mutex> l(m_m);
  return m_establishCalls;
}
std::vector<DWORD> FakePcsc::EstablishScopes() const {
  std::lock_guard<std::mutex> l(m_m);
  return m_scopes;
}
int FakePcsc::LiveContexts() const {
  std::lock_guard<std::mutex> l(m_m);
  return static_cast<int>(m_contexts.size());
}
int FakePcsc::LiveHandles() const {
  std::lock_guard<std::mutex> l(m_m);
  return static_cast<int>(m_handles.size());
}
int FakePcsc::Transactions() const {
  std::lock_guard<std::mutex> l(m_m);
  return m_transactions;
}

bool FakePcsc::WaitForWaiters(int n, int timeoutMs) const {
  std::unique_lock<std::mutex> l(m_m);
  return m_cv.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] {
    int total = 0;
    for (const auto& [ctx, count] : m_waiting) total += count;
    return total >= n;
  });
}

int FakePcsc::Waiting() const {
  std::lock_guard<std::mutex> l(m_m);
  int total = 0;
  for (const auto& [ctx, count] : m_waiting) total += count;
  return total;
}

DWORD FakePcsc::StateOf(const std::string& name) const {
  const auto it = m_readers.find(name);
  if (it == m_readers.end()) return SCARD_STATE_UNKNOWN | SCARD_STATE_CHANGED | SCARD_STATE_IGNORE;
  const Reader& r = it->second;
  DWORD s = r.card ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
  if (r.exclusive) s |= SCARD_STATE_EXCLUSIVE;
  return s | (r.counter << 16);
}

LONG FakePcsc::Establish(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT ph) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  ++g_fake->m_establishCalls;
  g_fake->m_scopes.push_back(scope);
  if (!g_fake->m_establish.empty()) {
    const LONG rc = g_fake->m_establish.front();
    g_fake->m_establish.pop_front();
    if (rc != SCARD_S_SUCCESS) return rc;
  }
  *ph = g_fake->m_nextContext++;
  g_fake->m_contexts.insert(*ph);
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Release(SCARDCONTEXT h) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  if (g_fake->m_contexts.erase(h) == 0) return SCARD_E_INVALID_HANDLE;
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::List(SCARDCONTEXT h, LPCSTR, LPSTR msz, LPDWORD pcch) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  if (g_fake->m_contexts.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  std::string all;
  for (const std::string& n : g_fake->m_order) {
    all += n;
    all.push_back('\0');
  }
  if (all.empty()) return SCARD_E_NO_READERS_AVAILABLE;
  all.push_back('\0');
  if (msz == nullptr) {
    *pcch = static_cast<DWORD>(all.size());
    return SCARD_S_SUCCESS;
  }
  if (*pcch < all.size()) return SCARD_E_INSUFFICIENT_BUFFER;
  std::memcpy(msz, all.data(), all.size());
  *pcch = static_cast<DWORD>(all.size());
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Connect(SCARDCONTEXT h, LPCSTR reader, DWORD, DWORD, LPSCARDHANDLE ph, LPDWORD proto) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  if (g_fake->m_contexts.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  const auto it = g_fake->m_readers.find(reader);
  if (it == g_fake->m_readers.end()) return SCARD_E_UNKNOWN_READER;
  if (it->second.exclusive) return SCARD_E_SHARING_VIOLATION;
  if (!it->second.card) return SCARD_E_NO_SMARTCARD;
  *ph = g_fake->m_nextHandle++;
  *proto = SCARD_PROTOCOL_T1;
  g_fake->m_handles[*ph] = reader;
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Reconnect(SCARDHANDLE h, DWORD, DWORD, DWORD, LPDWORD proto) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  ++g_fake->m_reconnectCalls;
  if (g_fake->m_handles.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  *proto = SCARD_PROTOCOL_T1;
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Disconnect(SCARDHANDLE h, DWORD) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  return g_fake->m_handles.erase(h) != 0 ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG FakePcsc::Begin(SCARDHANDLE h) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  if (g_fake->m_handles.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  ++g_fake->m_transactions;
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::End(SCARDHANDLE h, DWORD) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  if (g_fake->m_handles.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  --g_fake->m_transactions;
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Transmit(SCARDHANDLE h, const SCARD_IO_REQUEST*, LPCBYTE cmd, DWORD cbCmd,
                        SCARD_IO_REQUEST*, LPBYTE resp, LPDWORD pcbResp) {
  CardFn card;
  std::vector<BYTE> command(cmd, cmd + cbCmd);
  {
    std::lock_guard<std::mutex> l(g_fake->m_m);
    ++g_fake->m_transmitCalls;
    if (g_fake->m_handles.count(h) == 0) return SCARD_E_INVALID_HANDLE;
    if (!g_fake->m_transmit.empty()) {
      const LONG rc = g_fake->m_transmit.front();
      g_fake->m_transmit.pop_front();
      if (rc != SCARD_S_SUCCESS) return rc;
    }
    g_fake->m_sent.push_back(command);
    card = g_fake->m_card;
  }
  const std::vector<BYTE> answer = card(command);
  if (answer.size() > *pcbResp) return SCARD_E_INSUFFICIENT_BUFFER;
  if (!answer.empty()) std::memcpy(resp, answer.data(), answer.size());
  *pcbResp = static_cast<DWORD>(answer.size());
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::GetAttrib(SCARDHANDLE h, DWORD id, LPBYTE attr, LPDWORD pcb) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  const auto it = g_fake->m_handles.find(h);
  if (it == g_fake->m_handles.end()) return SCARD_E_INVALID_HANDLE;
  std::vector<BYTE> value;
  if (id == SCARD_ATTR_ATR_STRING) {
    value = g_fake->m_readers.at(it->second).atr;
  } else if (id == SCARD_ATTR_VENDOR_NAME) {
    value = {'V', 'e', 'x', 'a', 0};
  } else {
    return SCARD_E_UNSUPPORTED_FEATURE;
  }
  if (attr == nullptr) {
    *pcb = static_cast<DWORD>(value.size());
    return SCARD_S_SUCCESS;
  }
  if (*pcb < value.size()) {
    *pcb = static_cast<DWORD>(value.size());
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::memcpy(attr, value.data(), value.size());
  *pcb = static_cast<DWORD>(value.size());
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::StatusChange(SCARDCONTEXT h, DWORD timeout, SCARD_READERSTATE* rs, DWORD n) {
  std::unique_lock<std::mutex> l(g_fake->m_m);
  FakePcsc& f = *g_fake;
  if (f.m_contexts.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  auto changed = [&] {
    bool any = false;
    for (DWORD i = 0; i < n; ++i) {
      const DWORD s = f.StateOf(rs[i].szReader);
      rs[i].dwEventState = s;
      if (rs[i].dwCurrentState == SCARD_STATE_UNAWARE ||
          (s & ~SCARD_STATE_CHANGED) != (rs[i].dwCurrentState & ~SCARD_STATE_CHANGED)) {
        rs[i].dwEventState |= SCARD_STATE_CHANGED;
        any = true;
      }
      const auto it = f.m_readers.find(rs[i].szReader);
      if (it != f.m_readers.end() && it->second.card) {
        rs[i].cbAtr = static_cast<DWORD>(std::min<std::size_t>(it->second.atr.size(), sizeof rs[i].rgbAtr));
        std::memcpy(rs[i].rgbAtr, it->second.atr.data(), rs[i].cbAtr);
      } else {
        rs[i].cbAtr = 0;
      }
    }
    return any;
  };
  if (f.m_statusFail != 0) return f.m_statusFail;
  if (changed()) return SCARD_S_SUCCESS;
  if (timeout == 0) return SCARD_E_TIMEOUT;
  ++f.m_waiting[h];
  f.m_cv.notify_all();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  LONG rc = SCARD_E_TIMEOUT;
  while (true) {
    if (f.m_cancelled.erase(h) != 0) {
      rc = SCARD_E_CANCELLED;
      break;
    }
    if (f.m_statusFail != 0) {
      rc = f.m_statusFail;
      break;
    }
    if (changed()) {
      rc = SCARD_S_SUCCESS;
      break;
    }
    if (timeout == INFINITE) {
      f.m_cv.wait(l);
    } else if (f.m_cv.wait_until(l, deadline) == std::cv_status::timeout) {
      break;
    }
  }
  if (--f.m_waiting[h] == 0) f.m_waiting.erase(h);
  f.m_cv.notify_all();
  return rc;
}

LONG FakePcsc::Cancel(SCARDCONTEXT h) {
  std::lock_guard<std::mutex> l(g_fake->m_m);
  if (g_fake->m_contexts.count(h) == 0) return SCARD_E_INVALID_HANDLE;
  // Like pcsc-lite: only a wait in progress is cancelled.
  if (g_fake->m_waiting.count(h) != 0) {
    g_fake->m_cancelled.insert(h);
    g_fake->m_cv.notify_all();
  }
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Free(SCARDCONTEXT, LPCVOID) { return SCARD_S_SUCCESS; }

}  // namespace vexa::card::test
