// A per-user named block of POSIX shared memory that lives while any process
// holds it, the way a named Windows object does.
//
// Every holder keeps a shared open-file-description lock on byte 0 of the
// object. A process that can take the lock exclusively is alone with it:
//  - on open, that means nobody holds the block any more (its last holders died
//    without closing), so its contents are stale and it is set up afresh;
//  - on close, that means this is the last holder, so the name is unlinked and
//    the next process to ask for the name starts with a new, empty block.
// Locks go away with their process, so a crash never leaves a block "held".
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "vexa/platform/wintypes.h"

namespace vexa::detail {

// The POSIX shared-memory name for a caller's object name: "/" + the name with
// every character outside [A-Za-z0-9._-] replaced by '_', cut to a bounded
// length, + ".u" + the user id. When a character was replaced or the name was
// cut, "~" and a 64-bit hash of the original name are added before the user id,
// so that two different names never share one object.
std::string PosixObjectName(std::string_view name, uid_t uid);

class SharedSegment {
 public:
  enum class OpenResult {
    Created,       // the block is new (or was stale) and has been set up afresh
    Opened,        // the block was held by another process and is shared with it
    OpenFailed,    // the object could not be created or opened, or is not ours
    MapFailed,     // the object could not be mapped
  };

  SharedSegment() = default;
  ~SharedSegment();
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;

  // Creates or opens the object named posixName with at least size bytes.
  // setUp runs on the mapped bytes, under the exclusive lock, when the block is
  // new or stale (the bytes are zero when it runs).
  OpenResult Open(const std::string& posixName, std::size_t size,
                  const std::function<void(std::span<BYTE>)>& setUp);

  // Unmaps the block; the last holder unlinks the name. Safe to call twice.
  void Close() noexcept;

  bool IsOpen() const noexcept { return m_pView != nullptr; }
  std::span<BYTE> Bytes() const noexcept { return {m_pView, m_nSize}; }
  int Fd() const noexcept { return m_fd; }

 private:
  int m_fd = -1;
  BYTE* m_pView = nullptr;
  std::size_t m_nSize = 0;
  std::string m_strName;
  pid_t m_pidOwner = 0;  // a forked child inherits the lock: it never unlinks
};

}  // namespace vexa::detail
