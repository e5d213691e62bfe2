#include "pcsc_wait.h"

#include <algorithm>

namespace vexa::testbed {

PcscContext::~PcscContext() { Release(); }

LONG PcscContext::Establish() {
  Release();
  const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx);
  m_valid = rv == SCARD_S_SUCCESS;
  return rv;
}

void PcscContext::Release() {
  if (m_valid) SCardReleaseContext(m_ctx);
  m_valid = false;
}

std::vector<std::string> ListReaders(SCARDCONTEXT ctx) {
  DWORD len = 0;
  if (SCardListReaders(ctx, nullptr, nullptr, &len) != SCARD_S_SUCCESS || len == 0) return {};
  std::vector<char> buf(len);
  if (SCardListReaders(ctx, nullptr, buf.data(), &len) != SCARD_S_SUCCESS) return {};
  std::vector<std::string> names;
  for (std::size_t i = 0; i < buf.size() && buf[i] != '\0';) {
    std::string name(&buf[i]);
    i += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

WaitResult WaitForReaderState(SCARDCONTEXT ctx, const std::string& reader,
                              const std::function<bool(DWORD)>& want, std::chrono::milliseconds limit,
                              const std::function<bool()>& keepWaiting, DWORD& lastState) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  SCARD_READERSTATE rs{};
  rs.szReader = reader.c_str();
  rs.dwCurrentState = SCARD_STATE_UNAWARE;  // the first call reports the state at once
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const DWORD slice = static_cast<DWORD>(std::clamp<long>(left.count(), 0, 200));
    const LONG rv = SCardGetStatusChange(ctx, slice, &rs, 1);
    if (rv == SCARD_S_SUCCESS) {
      lastState = rs.dwEventState;
      if (want(rs.dwEventState)) return WaitResult::kReached;
      rs.dwCurrentState = rs.dwEventState & ~SCARD_STATE_CHANGED;
    } else if (rv != SCARD_E_TIMEOUT) {
      return WaitResult::kError;
    }
    if (keepWaiting && !keepWaiting()) return WaitResult::kAborted;
    if (Clock::now() >= deadline) return WaitResult::kTimedOut;
  }
}

}  // namespace vexa::testbed
