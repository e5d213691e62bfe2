#include "vexa/platform/named_event.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

namespace vexa {

namespace {

constexpr std::uint32_t kMagic = 0x56455654;  // "VEVT"
constexpr std::uint32_t kVersion = 1;

// What the shared block holds.
struct SharedEventState {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t manualReset;
  std::uint32_t signalled;   // guarded by mutex
  std::uint64_t setCount;    // guarded by mutex; lets a manual Set release waiters even if Reset follows at once
  pthread_mutex_t mutex;     // process-shared, robust
  pthread_cond_t cond;       // process-shared, monotonic clock
};

SharedEventState* StateOf(detail::SharedSegment& segment) {
  return reinterpret_cast<SharedEventState*>(segment.Bytes().data());
}

bool SetUpState(std::span<BYTE> bytes, bool manualReset, bool initialState) {
  auto* s = new (bytes.data()) SharedEventState{};
  pthread_mutexattr_t ma;
  if (pthread_mutexattr_init(&ma) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&ma, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&ma, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutex_init(&s->mutex, &ma) == 0;
  pthread_mutexattr_destroy(&ma);
  if (!ok) return false;
  pthread_condattr_t ca;
  if (pthread_condattr_init(&ca) != 0) return false;
  ok = pthread_condattr_setpshared(&ca, PTHREAD_PROCESS_SHARED) == 0 &&
       pthread_condattr_setclock(&ca, CLOCK_MONOTONIC) == 0 &&
       pthread_cond_init(&s->cond, &ca) == 0;
  pthread_condattr_destroy(&ca);
  if (!ok) return false;
  s->manualReset = manualReset ? 1 : 0;
  s->signalled = initialState ? 1 : 0;
  s->version = kVersion;
  s->magic = kMagic;
  return true;
}

// The lock is held for a few statements only. Waiting longer than this means
// it can never be had (its owner vanished in a way the system could not see,
// e.g. it unmapped the event while holding the lock): fail instead of hanging.
constexpr time_t kLockLimitSeconds = 5;

// Takes the lock; when its last owner died holding it, takes it over (the
// state it guards is a few words, always consistent between statements).
bool LockState(SharedEventState* s) {
  struct timespec limit {};
  clock_gettime(CLOCK_MONOTONIC, &limit);
  limit.tv_sec += kLockLimitSeconds;
  int r = pthread_mutex_clocklock(&s->mutex, CLOCK_MONOTONIC, &limit);
  if (r == EOWNERDEAD) {
    r = pthread_mutex_consistent(&s->mutex);
    if (r != 0) pthread_mutex_unlock(&s->mutex);
  }
  return r == 0;
}

}  // namespace

NamedEvent::~NamedEvent() { Close(); }

void NamedEvent::Close() noexcept {
  m_segment.Close();
  m_bExisted = false;
}

int NamedEvent::Create(const char* name, bool manualReset, bool initialState) {
  try {
    Close();
    if (name == nullptr || *name == '\0') return -1;
    m_strObjectName = detail::PosixObjectName(std::string("vexaevt_") + name, geteuid());
    bool setUpOk = true;
    auto result = m_segment.Open(m_strObjectName, sizeof(SharedEventState),
                                 [&](std::span<BYTE> bytes) {
                                   setUpOk = SetUpState(bytes, manualReset, initialState);
                                 });
    switch (result) {
      case detail::SharedSegment::OpenResult::OpenFailed:
        return -2;
      case detail::SharedSegment::OpenResult::MapFailed:
        return -3;
      case detail::SharedSegment::OpenResult::Created:
        if (!setUpOk) {
          Close();
          return -3;
        }
        m_bExisted = false;
        return 0;
      case detail::SharedSegment::OpenResult::Opened:
        break;
    }
    const SharedEventState* s = StateOf(m_segment);
    if (m_segment.Bytes().size() < sizeof(SharedEventState) || s->magic != kMagic ||
        s->version != kVersion) {
      Close();
      return -2;
    }
    m_bExisted = true;
    return 0;
  } catch (...) {
    Close();
    return -2;
  }
}

int NamedEvent::Set() {
  if (!IsOpen()) return -1;
  SharedEventState* s = StateOf(m_segment);
  if (!LockState(s)) return -1;
  s->signalled = 1;
  ++s->setCount;
  // Every waiter is woken, also for an auto-reset event (the first to take the
  // lock takes the signal, the others wait on): a waiter that died inside its
  // wait can then never swallow the wake-up meant for a living one.
  pthread_cond_broadcast(&s->cond);
  pthread_mutex_unlock(&s->mutex);
  return 0;
}

int NamedEvent::Reset() {
  if (!IsOpen()) return -1;
  SharedEventState* s = StateOf(m_segment);
  if (!LockState(s)) return -1;
  s->signalled = 0;
  pthread_mutex_unlock(&s->mutex);
  return 0;
}

bool NamedEvent::IsSignalled() {
  if (!IsOpen()) return false;
  SharedEventState* s = StateOf(m_segment);
  if (!LockState(s)) return false;
  const bool on = s->signalled != 0;
  pthread_mutex_unlock(&s->mutex);
  return on;
}

WaitResult NamedEvent::Wait(DWORD ms) {
  if (!IsOpen()) return WaitResult::Failed;
  SharedEventState* s = StateOf(m_segment);

  struct timespec deadline {};
  if (ms != kInfinite) {
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
  }

  if (!LockState(s)) return WaitResult::Failed;
  const bool manual = s->manualReset != 0;
  const std::uint64_t start = s->setCount;
  auto released = [&] { return s->signalled != 0 || (manual && s->setCount != start); };
  WaitResult result = WaitResult::Signalled;
  while (!released()) {
    int r = ms == kInfinite ? pthread_cond_wait(&s->cond, &s->mutex)
                            : pthread_cond_timedwait(&s->cond, &s->mutex, &deadline);
    if (r == EOWNERDEAD) {
      if (pthread_mutex_consistent(&s->mutex) != 0) return WaitResult::Failed;
    } else if (r == ETIMEDOUT) {
      if (!released()) result = WaitResult::Timeout;
      break;
    } else if (r != 0) {
      result = WaitResult::Failed;
      break;
    }
  }
  if (result == WaitResult::Signalled && !manual) s->signalled = 0;
  pthread_mutex_unlock(&s->mutex);
  return result;
}

bool NamedEventTestAccess::LockAndAbandon(NamedEvent& e) {
  if (!e.IsOpen()) return false;
  return LockState(StateOf(e.m_segment));
}

}  // namespace vexa
