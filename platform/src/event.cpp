#include "vexa/platform/event.h"

namespace vexa {

Event::Event(bool manualReset, bool initialState)
    : m_bManualReset(manualReset), m_bSignalled(initialState) {}

void Event::Set() {
  {
    std::lock_guard guard(m_mutex);
    m_bSignalled = true;
    ++m_nSetCount;
  }
  if (m_bManualReset) m_cv.notify_all();
  else m_cv.notify_one();
}

void Event::Reset() {
  std::lock_guard guard(m_mutex);
  m_bSignalled = false;
}

bool Event::IsSignalled() const {
  std::lock_guard guard(m_mutex);
  return m_bSignalled;
}

WaitResult Event::Wait(DWORD ms) {
  try {
    std::unique_lock guard(m_mutex);
    const std::uint64_t start = m_nSetCount;
    auto released = [&] { return m_bSignalled || (m_bManualReset && m_nSetCount != start); };
    if (ms == kInfinite) {
      m_cv.wait(guard, released);
    } else if (!m_cv.wait_for(guard, std::chrono::milliseconds(ms), released)) {
      return WaitResult::Timeout;
    }
    if (!m_bManualReset) m_bSignalled = false;
    return WaitResult::Signalled;
  } catch (...) {
    return WaitResult::Failed;
  }
}

}  // namespace vexa
