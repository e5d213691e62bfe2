// The trace routine: one file per module, lines written whole with one write().
#include "vexa/platform/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "vexa/platform/module.h"
#include "vexa/platform/registry.h"

namespace {

struct TraceState {
  std::mutex mu;                 // guards the members below and keeps each line whole
  std::atomic<int> logLevel{0};  // read without the lock by the level check
  bool on = false;               // a file name is set (tracing is on)
  std::string fileName;
  int fd = -1;
  std::atomic<bool> timeLog{false};
  unsigned startCount = 0;       // TraceOpen calls with "Multilog" in this process
};

TraceState& State() {
  static vexa::NoDestructor<TraceState> s;
  return *s;
}

unsigned ThreadId() { return static_cast<unsigned>(::syscall(SYS_gettid)); }

// The first up to four bytes of a value as a little-endian number; 0 when absent.
unsigned long ReadNumber(const char* name) {
  std::vector<BYTE> d;
  if (RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, name, d) != 0) return 0;
  return vexa::RegValueNumber(d);
}

bool WriteAll(int fd, const char* p, std::size_t left) {
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Opens a trace file for appending: created with mode 0600, never through a
// symbolic link, and only when it is a regular file of this user.
int OpenTraceFile(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    if (errno == ELOOP)
      std::fprintf(stderr, "trace: %s is a symbolic link; tracing stays off\n", name.c_str());
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    std::fprintf(stderr, "trace: %s is not a regular file of this user; tracing stays off\n",
                 name.c_str());
    ::close(fd);
    return -1;
  }
  if ((st.st_mode & 077) != 0) ::fchmod(fd, 0600);
  return fd;
}

// Formats the caller's part into out (any length).
void FormatInto(std::string& out, const char* format, va_list ap) {
  if (format == nullptr) return;
  char small[512];
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.append(small, static_cast<std::size_t>(n));
    return;
  }
  std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n) + 1);
  std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, ap);
  out.resize(at + static_cast<std::size_t>(n));
}

// "[0x%08x] - dd\mm\yyyy - [hh:mm:ss.mmm]" followed by end ("] " or "]\n").
void Prefix(std::string& out, const char* end) {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  ::localtime_r(&ts.tv_sec, &tm);
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, "[0x%08x] - %02d\\%02d\\%04d - [%02d:%02d:%02d.%03d%s", ThreadId(),
                        tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                        static_cast<int>(ts.tv_nsec / 1000000), end);
  if (n > 0) out.append(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

// Writes one whole line; the state lock keeps lines of several threads apart.
int WriteLine(const std::string& line) {
  auto& s = State();
  std::lock_guard<std::mutex> g(s.mu);
  if (!s.on) return 0;
  if (s.fd < 0) return -1;
  return WriteAll(s.fd, line.data(), line.size()) ? 0 : -1;
}

bool Passes(int level) {
  int lv = State().logLevel.load(std::memory_order_relaxed);
  return lv != 0 && level <= lv;
}

int VTrace(int level, const char* end, const char* format, va_list ap) {
  try {
    if (!Passes(level)) return 0;
    std::string line;
    Prefix(line, end);
    FormatInto(line, format, ap);
    return WriteLine(line);
  } catch (...) {
    return -1;  // out of memory: the line is lost, the caller goes on
  }
}

void CloseLocked(TraceState& s, bool closingLine) {
  if (s.on && s.fd >= 0 && closingLine) {
    static const char kClosing[] = "\n\n### Closing Log ###\n\n";
    WriteAll(s.fd, kClosing, sizeof kClosing - 1);
  }
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.on = false;
  std::string().swap(s.fileName);  // frees it: a library unloaded by dlclose leaves nothing behind
  s.logLevel.store(0);
}

}  // namespace

int TraceOpen(const char* path, const char* valueName, unsigned short highestLevel) {
  try {
    auto& s = State();
    {
      std::lock_guard<std::mutex> g(s.mu);
      CloseLocked(s, false);
    }
    if (path == nullptr || *path == '\0' || valueName == nullptr || *valueName == '\0') return -1;
    // The registry is read without the trace lock: a malformed file reports itself
    // through Trace.
    std::vector<BYTE> d;
    if (RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, valueName, d) != 0) return -1;
    int level = d.empty() ? 0 : d[0];
    if (level > highestLevel) level = highestLevel;
    unsigned long multi = ReadNumber("Multilog");
    unsigned long timeLog = ReadNumber("Timelog");

    std::lock_guard<std::mutex> g(s.mu);
    std::string name = path;
    if (multi != 0) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%02u", ++s.startCount);
      name += suffix;
    }
    int fd = OpenTraceFile(name);
    if (fd < 0) return -1;
    s.fd = fd;
    s.fileName = std::move(name);
    s.on = true;
    s.timeLog.store(timeLog != 0);
    s.logLevel.store(level);
    char line[128];
    int n = std::snprintf(line, sizeof line, "************* INIT LOG %d logLevel %d g_bTimeLog %d\n",
                          static_cast<int>(ThreadId()), level, timeLog != 0 ? 1 : 0);
    if (n > 0) WriteAll(fd, line, static_cast<std::size_t>(n));
    return 0;
  } catch (...) {
    return -1;
  }
}

int Trace(int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int rc = VTrace(level, "] ", format, ap);
  va_end(ap);
  return rc;
}

int TraceTime(int level, const char* format, ...) {
  if (!State().timeLog.load()) return 0;
  va_list ap;
  va_start(ap, format);
  int rc = VTrace(level, "]\n", format, ap);
  va_end(ap);
  return rc;
}

void TraceClose() {
  auto& s = State();
  std::lock_guard<std::mutex> g(s.mu);
  CloseLocked(s, true);
}

namespace vexa {

std::string TraceFilePath(const std::string& baseName) {
  std::string dir = "/tmp";
  std::vector<BYTE> d;
  if (RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "TraceDir", d) == 0) {
    std::string v(d.begin(), d.end());
    std::size_t nul = v.find('\0');
    if (nul != std::string::npos) v.resize(nul);
    while (v.size() > 1 && v.back() == '/') v.pop_back();
    if (!v.empty()) dir = v;
  }
  if (dir.back() != '/') dir += '/';
  return dir + baseName;
}

void TraceBytes(int level, const char* label, const BYTE* data, std::size_t len) {
  try {
    if (!Passes(level)) return;
    std::string hex;
    hex.reserve(len * 3);
    static const char* digits = "0123456789ABCDEF";
    for (std::size_t i = 0; i < len && data != nullptr; ++i) {
      if (i != 0) hex.push_back(' ');
      hex.push_back(digits[data[i] >> 4]);
      hex.push_back(digits[data[i] & 15]);
    }
    Trace(level, "%s [%zu bytes] %s\n", label != nullptr ? label : "", len, hex.c_str());
  } catch (...) {
  }
}

void TraceSecret(int level, const char* label, const BYTE* /*data*/, std::size_t len) {
  Trace(level, "%s [%zu bytes masked]\n", label != nullptr ? label : "", len);
}

int TraceLevel() { return State().logLevel.load(std::memory_order_relaxed); }

}  // namespace vexa
