// PC/SC helpers of the test bed: a context owner and waits for reader states
// with time limits (SCardGetStatusChange, never fixed sleeps).
#pragma once

#include <winscard.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vexa::testbed {

class PcscContext {
 public:
  PcscContext() = default;
  ~PcscContext();
  PcscContext(const PcscContext&) = delete;
  PcscContext& operator=(const PcscContext&) = delete;
  // Establishes a context; the PC/SC result code.
  LONG Establish();
  bool Valid() const { return m_valid; }
  SCARDCONTEXT Get() const { return m_ctx; }
  void Release();

 private:
  SCARDCONTEXT m_ctx = 0;
  bool m_valid = false;
};

// The readers pcscd lists now (empty when none, or on an error).
std::vector<std::string> ListReaders(SCARDCONTEXT ctx);

enum class WaitResult { kReached, kTimedOut, kAborted, kError };

// Waits until the reader's event state satisfies want, or limit passes.
// keepWaiting is asked about every 200 ms (e.g. "is the card program still
// running?"); when it answers false the wait ends with kAborted. lastState
// receives the last event state seen.
WaitResult WaitForReaderState(SCARDCONTEXT ctx, const std::string& reader,
                              const std::function<bool(DWORD)>& want, std::chrono::milliseconds limit,
                              const std::function<bool()>& keepWaiting, DWORD& lastState);

}  // namespace vexa::testbed
