// Card monitoring: one thread per watched reader, at most
// VEXA_MAX_MONITORED_READERS, reporting insertion and removal through callbacks.
//
// Each thread waits on a PC/SC context of its own: pcsc-lite serialises the
// calls made on one context, so threads sharing a context would wait one after
// the other and a reader's events would wait for another reader's change.
#include <PCSC/winscard.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "card_trace.h"
#include "monitor_events.h"
#include "vexa/card/card_session.h"
#include "vexa/card/pcsc_table.h"

using vexa::card::Pcsc;

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(200);

// Set on monitoring threads: a stop asked for from a callback must not wait
// for the stop that is ending this very thread.
thread_local bool t_onMonitorThread = false;
constexpr auto kCancelRetry = std::chrono::milliseconds(50);

// Shared by a monitoring thread and the start/stop calls.
struct ThreadControl {
  std::atomic<bool> stop{false};
  std::atomic<bool> ending{false};  // the thread watches no more (reader gone, error)
  std::mutex m;                // guards done
  std::condition_variable cv;  // signals done, wakes a polling sleep on stop
  bool done = false;
};

// The thread parameter, owned by the thread.
struct ThreadParam {
  SCARDCONTEXT hContext = 0;
  std::string reader;
  PFN_CARD_EVENT pfnInternal = nullptr;
  PFN_CARD_EVENT pfnExternal = nullptr;
  bool bBlocking = true;
  std::shared_ptr<ThreadControl> control;
};

struct Entry {
  std::thread thread;
  std::string reader;
  SCARDCONTEXT hContext = 0;
  std::shared_ptr<ThreadControl> control;
};

// The class-wide monitoring table.
struct MonitorTable {
  std::mutex m;                     // guards entries and stopping
  std::condition_variable cvStop;   // signals the end of a stop
  std::vector<Entry> entries;       // at most VEXA_MAX_MONITORED_READERS
  bool stopping = false;
};

// Never destroyed: monitoring threads and the engine's stop hook may still reach
// it while the process exits.
MonitorTable& Table() {
  alignas(MonitorTable) static unsigned char storage[sizeof(MonitorTable)];
  static MonitorTable* const table = new (storage) MonitorTable;
  return *table;
}

bool IsDone(ThreadControl& c) {
  std::lock_guard<std::mutex> lock(c.m);
  return c.done;
}

void Report(const ThreadParam& p, const vexa::card::MonitorReport& r) {
  for (int ev : r.events) {
    if (ev == 0) continue;
    Trace(1, "\tcard monitor %s: event %d\n", p.reader.c_str(), ev);
    try {
      if (r.toInternal && p.pfnInternal != nullptr) p.pfnInternal(p.reader.c_str(), ev);
      if (r.toExternal && p.pfnExternal != nullptr) p.pfnExternal(p.reader.c_str(), ev);
    } catch (...) {
      Trace(1, "\tcard monitor %s: callback failed\n", p.reader.c_str());
    }
  }
}

bool Continues(LONG rc) {
  return rc == SCARD_E_TIMEOUT || rc == SCARD_W_UNRESPONSIVE_CARD || rc == SCARD_W_RESET_CARD ||
         rc == SCARD_W_REMOVED_CARD;
}

void MonitorLoop(ThreadParam p) {
  t_onMonitorThread = true;
  ThreadControl& ctl = *p.control;
  try {
    Trace(1, "\tcard monitor %s: start (%s)\n", p.reader.c_str(), p.bBlocking ? "blocking" : "polling");
    SCARD_READERSTATE rs{};
    rs.szReader = p.reader.c_str();
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    LONG rc = Pcsc().GetStatusChange(p.hContext, 0, &rs, 1);
    DWORD prev = SCARD_STATE_UNAWARE;
    if (rc == SCARD_S_SUCCESS) {
      prev = rs.dwEventState;
      if ((prev & SCARD_STATE_PRESENT) != 0) {
        vexa::card::MonitorReport r;
        r.events[0] = CARD_EVENT_PRESENT;
        r.toExternal = r.toInternal = true;
        Report(p, r);
      }
    }
    while (!ctl.stop.load()) {
      rs.dwCurrentState = prev;
      rs.dwEventState = 0;
      if (p.bBlocking) {
        rc = Pcsc().GetStatusChange(p.hContext, INFINITE, &rs, 1);
      } else {
        rc = Pcsc().GetStatusChange(p.hContext, 0, &rs, 1);
        std::unique_lock<std::mutex> lock(ctl.m);
        ctl.cv.wait_for(lock, kPollPeriod, [&] { return ctl.stop.load(); });
      }
      if (rc == SCARD_S_SUCCESS) {
        const vexa::card::MonitorReport r = vexa::card::ClassifyChange(prev, rs.dwEventState);
        prev = rs.dwEventState;
        // A reader that went away is no longer watched from here on, so that a
        // callback (or anyone after it) can ask for it to be watched again.
        if (r.readerGone) ctl.ending.store(true);
        if (!ctl.stop.load()) Report(p, r);
        if (r.readerGone) break;
        continue;
      }
      if (Continues(rc)) continue;
      // Cancelled (stop), reader or service gone, or an error of this reader's
      // context: this thread ends; the other readers stay watched.
      Trace(1, "\tcard monitor %s: 0x%08lX\n", p.reader.c_str(),
            static_cast<unsigned long>(static_cast<DWORD>(rc)));
      break;
    }
    Trace(1, "\tcard monitor %s: end\n", p.reader.c_str());
  } catch (...) {
  }
  ctl.ending.store(true);
  std::lock_guard<std::mutex> lock(ctl.m);
  ctl.done = true;
  ctl.cv.notify_all();
}

// Ends one thread: repeats the cancellation until the thread has seen it (a
// cancellation sent before the thread enters its wait would be lost), then joins.
void EndThread(Entry& e) {
  if (e.thread.get_id() == std::this_thread::get_id()) {
    e.thread.detach();  // stop called from a callback: the thread ends after it
    return;
  }
  {
    std::lock_guard<std::mutex> lock(e.control->m);
    e.control->cv.notify_all();
  }
  while (true) {
    Pcsc().Cancel(e.hContext);
    std::unique_lock<std::mutex> lock(e.control->m);
    if (e.control->cv.wait_for(lock, kCancelRetry, [&] { return e.control->done; })) break;
  }
  if (e.thread.joinable()) e.thread.join();
}

// Joins the threads that ended on their own and frees their entries. Table lock held.
void ReapEnded(MonitorTable& t) {
  for (auto it = t.entries.begin(); it != t.entries.end();) {
    if (IsDone(*it->control)) {
      if (it->thread.joinable()) it->thread.join();
      Pcsc().ReleaseContext(it->hContext);
      it = t.entries.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

LONG CCardSession::StartCardMonitoringEx(const char* szReader, PFN_CARD_EVENT pfnCallback,
                                         BOOL bSkipIfWatched, BOOL bBlocking) noexcept {
  LONG rc = SCARD_S_SUCCESS;
  try {
    vexa::card::TraceIn("CCardSession::StartCardMonitoringEx");
    if (szReader == nullptr || szReader[0] == '\0' ||
        strnlen(szReader, VEXA_MAX_MONITORED_NAME + 1) > VEXA_MAX_MONITORED_NAME) {
      rc = SCARD_E_INVALID_PARAMETER;
    } else {
      MonitorTable& t = Table();
      std::unique_lock<std::mutex> lock(t.m);
      ReapEnded(t);
      const bool watched = std::any_of(t.entries.begin(), t.entries.end(),
                                       [&](const Entry& e) { return e.reader == szReader && !e.control->ending.load(); });
      if (t.stopping) {
        Trace(1, "\tcard monitor %s: monitoring is being stopped\n", szReader);
        rc = SCARD_E_CANCELLED;
      } else if (bSkipIfWatched && watched) {
        rc = SCARD_S_SUCCESS;
      } else if (t.entries.size() >= VEXA_MAX_MONITORED_READERS) {
        Trace(1, "\tcard monitor %s: all %d monitoring entries in use, reader not watched\n",
              szReader, VEXA_MAX_MONITORED_READERS);
        rc = SCARD_E_NO_MEMORY;
      } else {
        SCARDCONTEXT h = 0;
        rc = Pcsc().EstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &h);
        if (rc == SCARD_S_SUCCESS) {
          Entry e;
          e.reader = szReader;
          e.hContext = h;
          e.control = std::make_shared<ThreadControl>();
          ThreadParam p{h, e.reader, nullptr, pfnCallback, bBlocking != 0, e.control};
          try {
            e.thread = std::thread(MonitorLoop, std::move(p));
            t.entries.push_back(std::move(e));
          } catch (const std::system_error& err) {
            Pcsc().ReleaseContext(h);
            rc = err.code().value() != 0 ? err.code().value() : SCARD_E_NO_MEMORY;
            Trace(1, "\tcard monitor %s: no thread (%d)\n", szReader, err.code().value());
          }
        }
      }
    }
  } catch (...) {
    rc = SCARD_E_NO_MEMORY;
  }
  vexa::card::TraceOut("CCardSession::StartCardMonitoringEx", rc);
  return rc;
}

void CCardSession::StopCardMonitoring() noexcept {
  try {
    vexa::card::TraceIn("CCardSession::StopCardMonitoring");
    MonitorTable& t = Table();
    std::vector<Entry> taken;
    {
      std::unique_lock<std::mutex> lock(t.m);
      // A second caller waits for the first one's stop to finish, unless it is
      // a monitoring thread's callback: that stop is ending it already.
      if (t.stopping && t_onMonitorThread) return;
      t.cvStop.wait(lock, [&] { return !t.stopping; });
      t.stopping = true;
      taken.swap(t.entries);
      for (Entry& e : taken) e.control->stop.store(true);
    }
    // The table lock is not held here: a callback running on a monitoring thread
    // may still call into this class while its thread is being ended.
    for (Entry& e : taken) EndThread(e);
    for (Entry& e : taken) Pcsc().ReleaseContext(e.hContext);
    {
      std::lock_guard<std::mutex> lock(t.m);
      t.stopping = false;
    }
    t.cvStop.notify_all();
    vexa::card::TraceOut("CCardSession::StopCardMonitoring", 0);
  } catch (...) {
  }
}
