// An in-process event, as Windows has them: manual reset (stays signalled until
// Reset, releases every waiter) or auto reset (each Set releases one waiter).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "vexa/platform/wintypes.h"

namespace vexa {

// Wait time that never runs out.
constexpr DWORD kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled, Timeout, Failed };

class Event {
 public:
  explicit Event(bool manualReset, bool initialState = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Waits up to ms milliseconds (kInfinite: no limit). An auto-reset event is
  // reset by the wait it releases.
  WaitResult Wait(DWORD ms);
  bool IsSignalled() const;

 private:
  mutable std::mutex m_mutex;  // guards m_bSignalled and m_nSetCount
  std::condition_variable m_cv;
  const bool m_bManualReset;
  bool m_bSignalled;
  std::uint64_t m_nSetCount = 0;  // a manual Set releases the waiters even if Reset follows at once
};

}  // namespace vexa
