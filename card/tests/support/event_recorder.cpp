#include "event_recorder.h"

#include <chrono>

namespace vexa::card::test {

void Recorder::Add(const char* reader, int ev) {
  std::lock_guard<std::mutex> l(m_m);
  m_events.emplace_back(reader, ev);
  m_cv.notify_all();
}

bool Recorder::WaitFor(const std::string& reader, int ev, int timeoutMs) {
  std::unique_lock<std::mutex> l(m_m);
  return m_cv.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] {
    for (std::size_t i = m_seen; i < m_events.size(); ++i) {
      if (m_events[i].first == reader && m_events[i].second == ev) {
        m_seen = i + 1;
        return true;
      }
    }
    return false;
  });
}

std::vector<std::pair<std::string, int>> Recorder::Events() {
  std::lock_guard<std::mutex> l(m_m);
  return m_events;
}

void Recorder::Clear() {
  std::lock_guard<std::mutex> l(m_m);
  m_events.clear();
  m_seen = 0;
}

}  // namespace vexa::card::test
