// The card events a monitoring callback received, in order, for tests to wait on.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vexa::card::test {

class Recorder {
 public:
  // defaultTimeoutMs: how long WaitFor waits when no time limit is given.
  explicit Recorder(int defaultTimeoutMs) : m_defaultTimeoutMs(defaultTimeoutMs) {}
  void Add(const char* reader, int ev);
  // Waits (time limit) for the event after the last one waited for.
  bool WaitFor(const std::string& reader, int ev) { return WaitFor(reader, ev, m_defaultTimeoutMs); }
  bool WaitFor(const std::string& reader, int ev, int timeoutMs);
  std::vector<std::pair<std::string, int>> Events();
  void Clear();

 private:
  const int m_defaultTimeoutMs;
  std::mutex m_m;
  std::condition_variable m_cv;
  std::vector<std::pair<std::string, int>> m_events;
  std::size_t m_seen = 0;
};

}  // namespace vexa::card::test
