// Named events shared by the processes of one user ("PropCert", "NonBlocking"),
// manual reset or auto reset, as Windows has them.
//
// The event lives in a block of POSIX shared memory named after the event and
// the user id (mode 0600, used only when it is this user's own), holding a
// process-shared robust mutex and condition variable. The event lives while
// any process holds it; the first process to create it (or the first after
// every holder has gone, even by a crash) sets it up with its initial state and
// reset mode. A process that dies holding the event's lock does not block the
// others: the next one takes the lock over.
#pragma once

#include <string>

#include "vexa/platform/event.h"
#include "vexa/platform/shared_segment.h"
#include "vexa/platform/wintypes.h"

namespace vexa {

class NamedEvent {
 public:
  NamedEvent() = default;
  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Creates the event, or opens it when another process holds it (then its
  // reset mode and state are the existing ones). 0; -1 no name; -2 the event
  // could not be created or opened, or a block of that name is not this user's
  // own or is no event; -3 it could not be mapped.
  int Create(const char* name, bool manualReset, bool initialState);
  // True when Create found the event held by another process.
  bool Existed() const { return m_bExisted; }
  bool IsOpen() const { return m_segment.IsOpen(); }

  // Signals the event: a manual-reset event releases every waiter and stays
  // signalled; an auto-reset event releases one waiter. 0; -1 not open or failed.
  int Set();
  // Clears the event. 0; -1 not open or failed.
  int Reset();
  // Waits up to ms milliseconds (kInfinite: no limit). A wait released by an
  // auto-reset event resets it. Failed when not open.
  WaitResult Wait(DWORD ms);
  // The state now (false when not open).
  bool IsSignalled();

  void Close() noexcept;

  // The name of the shared-memory object (for traces and tests).
  const std::string& ObjectName() const { return m_strObjectName; }

 private:
  friend struct NamedEventTestAccess;

  detail::SharedSegment m_segment;
  std::string m_strObjectName;
  bool m_bExisted = false;
};

// For tests only: takes the event's lock and never releases it, as a process
// that dies inside Set would.
struct NamedEventTestAccess {
  static bool LockAndAbandon(NamedEvent& e);
};

}  // namespace vexa
