// The state behind PcscTestbed, shared with VirtualCard.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "ports.h"
#include "vexa/testbed/testbed.h"

namespace vexa::testbed {

// pcscd started but could not open every reader (a port was taken).
class ReadersMissing : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Marks that this process has a test bed (the PC/SC client library can talk to
// one pcscd per process). Released by its destructor.
class ProcessBedGuard {
 public:
  ProcessBedGuard();  // throws std::logic_error when the process already has one
  ~ProcessBedGuard();
  ProcessBedGuard(const ProcessBedGuard&) = delete;
  ProcessBedGuard& operator=(const ProcessBedGuard&) = delete;
};

struct PcscTestbed::Impl {
  explicit Impl(int entries);
  ~Impl();

  ProcessBedGuard guard;
  std::string dir;
  std::string socketPath;
  std::optional<PortReservation> ports;
  std::vector<std::string> readerNames;  // config order
  std::map<std::string, int> readerPorts;
  ChildProcess pcscd;

  std::string DaemonOutput() const;  // pcscd's log, for error messages

 private:
  void Start(int entries);
  void WaitUntilReady();
};

// The last part of a text file (for error messages).
std::string TailOfFile(const std::string& path, std::size_t maxBytes = 4000);

// How long any wait of the test bed may take.
inline constexpr std::chrono::milliseconds kEventLimit{15000};

}  // namespace vexa::testbed
