// TCP ports for the vpcd readers. Each entry needs a pair (PORT for slot 00,
// PORT+1 for slot 01). Pairs are reserved across processes with a lock file
// per pair (flock, released when the holder closes it or dies), so test
// programs running at once never choose the same ports; a pair is taken only
// when both ports can also be bound right now.
#pragma once

#include <vector>

namespace vexa::testbed {

class PortReservation {
 public:
  // Reserves count pairs; throws std::runtime_error when none can be found.
  explicit PortReservation(int count);
  ~PortReservation();
  PortReservation(const PortReservation&) = delete;
  PortReservation& operator=(const PortReservation&) = delete;
  PortReservation(PortReservation&&) noexcept;
  PortReservation& operator=(PortReservation&&) noexcept;

  // The first port of each pair.
  const std::vector<int>& BasePorts() const { return m_ports; }

 private:
  void Release() noexcept;
  std::vector<int> m_ports;
  std::vector<int> m_lockFds;
};

}  // namespace vexa::testbed
