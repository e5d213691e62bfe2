// Registry files: locating them, reading them, and changing them atomically under
// a lock so that concurrent writers in several processes lose nothing.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "vexa/platform/module.h"
#include "vexa/platform/registry.h"
#include "vexa/platform/secure.h"
#include "vexa/platform/trace.h"

namespace vexa {
namespace {

// A registry file larger than this is refused rather than read into memory.
constexpr off_t kMaxFileSize = 8 * 1024 * 1024;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int get() const { return m_fd; }
  void reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }
  int release() {
    int f = m_fd;
    m_fd = -1;
    return f;
  }

 private:
  int m_fd;
};

std::string HomeDir() {
  const char* h = std::getenv("HOME");
  if (h != nullptr && *h != '\0') return h;
  struct passwd pw {};
  struct passwd* res = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res != nullptr && res->pw_dir != nullptr)
    return res->pw_dir;
  return "/";
}

// Reports a malformed file on standard error and on the trace, once per distinct
// message so that a start-up reading a dozen values does not repeat it a dozen times.
void ReportParseError(const RegParseError& err) {
  // The last message is remembered by its hash: no heap memory that would be
  // left behind when a library is unloaded.
  static std::atomic<std::size_t> last{0};
  std::string text = "registry: " + err.Text();
  const std::size_t h = std::hash<std::string>{}(text);
  if (last.exchange(h) == h) return;
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  Trace(1, "%s\n", text.c_str());
}

enum class Load { kOk, kMissing, kBad };

// Reads and parses the file behind an open descriptor.
Load LoadFrom(int fd, const std::string& path, RegDocument& doc, RegParseError& err) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = {path, 0, "not a regular file"};
    return Load::kBad;
  }
  if (st.st_size > kMaxFileSize) {
    err = {path, 0, "file larger than 8 MiB"};
    return Load::kBad;
  }
  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size));
  char buf[8192];
  // The file holds secrets (the secure-messaging master key): the text read
  // is wiped on every way out.
  struct Wipe {
    std::string& text;
    char* buf;
    std::size_t bufSize;
    ~Wipe() {
      SecureWipe(text.data(), text.size());
      SecureWipe(buf, bufSize);
    }
  } wipe{text, buf, sizeof buf};
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = {path, 0, std::string("read failed: ") + std::strerror(errno)};
      return Load::kBad;
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    if (text.size() > static_cast<std::size_t>(kMaxFileSize)) {
      err = {path, 0, "file larger than 8 MiB"};
      return Load::kBad;
    }
  }
  return doc.Parse(text, path, err) ? Load::kOk : Load::kBad;
}

Load LoadFile(const std::string& path, RegDocument& doc, RegParseError& err) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Load::kMissing;
    err = {path, 0, std::string("cannot open: ") + std::strerror(errno)};
    return Load::kBad;
  }
  return LoadFrom(fd.get(), path, doc, err);
}

bool WriteAll(int fd, const std::string& s) {
  const char* p = s.data();
  std::size_t left = s.size();
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

std::string DirName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void MakeDirs(const std::string& dir) {
  if (dir.empty() || dir == "/" || dir == ".") return;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return;
  MakeDirs(DirName(dir));
  ::mkdir(dir.c_str(), 0700);
}

// Replaces the file with text: a temporary file in the same folder, written and
// synced, renamed over the old one. The old file's mode is kept (0600 for a new one).
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string tmpl = path + ".tmpXXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  Fd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat st {};
  mode_t mode = 0600;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    // Keep the owner too (possible only for root, or when it is us already).
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)!::fchown(fd.get(), st.st_uid, st.st_gid);
  }
  bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  ok = (::close(fd.release()) == 0) && ok;
  if (ok && ::rename(name.data(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(name.data());
    return false;
  }
  Fd dir(::open(DirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

// Runs change on the file's document under the file's lock and writes the result
// when change returns 0 and asks for a write. Results as RegWriteValue's.
int ChangeFile(const std::string& givenPath, bool createMissing,
               const std::function<int(RegDocument&, bool& write)>& change) {
  if (givenPath.empty()) return 1;
  // Through a symbolic link, the file it names is changed (and locked).
  std::string path = givenPath;
  char real[PATH_MAX];
  if (::realpath(givenPath.c_str(), real) != nullptr) path = real;
  if (createMissing) MakeDirs(DirName(path));
  std::string lockPath = path + ".lock";
  Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  if (lock.get() < 0) lock.reset(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  if (lock.get() < 0) {
    // No lock without a writable folder; then the file cannot be replaced either.
    RegDocument probe;
    RegParseError err;
    Load l = LoadFile(path, probe, err);
    if (l == Load::kBad) ReportParseError(err);
    return (l == Load::kOk) ? 2 : 1;
  }
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return 2;
  }
  RegDocument doc;
  RegParseError err;
  Load l = LoadFile(path, doc, err);
  if (l == Load::kBad) {
    ReportParseError(err);
    return 1;
  }
  if (l == Load::kMissing && !createMissing) return 1;
  bool write = false;
  int rc = change(doc, write);
  if (rc != 0 || !write) return rc;
  return ReplaceFile(path, doc.Text()) ? 0 : 2;
  // The lock is released when lock closes.
}

std::string KeyPath(HKEY root, const char* subKey) {
  std::string_view rootName = RegistryRootName(root);
  if (rootName.empty() || subKey == nullptr) return {};
  std::string_view sub(subKey);
  while (!sub.empty() && sub.front() == '\\') sub.remove_prefix(1);
  while (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
  std::string p(rootName);
  if (!sub.empty()) {
    p += '\\';
    p += sub;
  }
  return p;
}

}  // namespace

std::string_view RegistryRootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  return {};
}

std::string RegistryFilePath(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) {
    const char* e = std::getenv("VEXA_REGISTRY");
    return (e != nullptr && *e != '\0') ? std::string(e) : std::string("/etc/vexa/registry.reg");
  }
  if (root == HKEY_CURRENT_USER) {
    const char* e = std::getenv("VEXA_USER_REGISTRY");
    if (e != nullptr && *e != '\0') return e;
    std::string home = HomeDir();
    if (!home.empty() && home.back() == '/') home.pop_back();
    return home + "/.config/vexa/registry.reg";
  }
  return {};
}

int RegCreateKey(HKEY root, const char* subKey) {
  try {
    std::string key = KeyPath(root, subKey);
    if (key.empty()) return 1;
    return ChangeFile(RegistryFilePath(root), true, [&](RegDocument& doc, bool& write) {
      write = !doc.HasKey(key);
      doc.AddKey(key);
      return 0;
    });
  } catch (...) {
    return 2;
  }
}

int RegDeleteValue(HKEY root, const char* subKey, const char* valueName) {
  try {
    std::string key = KeyPath(root, subKey);
    if (key.empty()) return 1;
    std::string name = valueName != nullptr ? valueName : "";
    return ChangeFile(RegistryFilePath(root), false, [&](RegDocument& doc, bool& write) {
      if (!doc.HasKey(key)) return 1;
      write = doc.Remove(key, name);
      return write ? 0 : 2;
    });
  } catch (...) {
    return 2;
  }
}

}  // namespace vexa

int RegReadValue(HKEY root, const char* subKey, const char* valueName, std::vector<BYTE>& data,
                 DWORD* type) {
  try {
    data.clear();
    std::string key = vexa::KeyPath(root, subKey);
    if (key.empty()) return 1;
    vexa::RegDocument doc;
    vexa::RegParseError err;
    vexa::Load l = vexa::LoadFile(vexa::RegistryFilePath(root), doc, err);
    if (l == vexa::Load::kBad) vexa::ReportParseError(err);
    if (l != vexa::Load::kOk || !doc.HasKey(key)) return 1;
    const vexa::RegValue* v = doc.Find(key, valueName != nullptr ? valueName : "");
    if (v == nullptr || v->data.size() > VEXA_REG_MAX_VALUE) return 2;
    data = v->data;
    if (type != nullptr) *type = v->type;
    return 0;
  } catch (...) {
    data.clear();
    return 1;
  }
}

int RegWriteValue(HKEY root, const char* subKey, const char* valueName, DWORD type,
                  const BYTE* data, DWORD size) {
  try {
    std::string key = vexa::KeyPath(root, subKey);
    if (key.empty()) return 1;
    if (size > VEXA_REG_MAX_VALUE || (data == nullptr && size != 0)) return 2;
    vexa::RegValue v;
    v.name = valueName != nullptr ? valueName : "";
    v.type = type;
    if (size != 0) v.data.assign(data, data + size);
    return vexa::ChangeFile(vexa::RegistryFilePath(root), false,
                            [&](vexa::RegDocument& doc, bool& write) {
                              if (!doc.HasKey(key)) return 1;
                              doc.Set(key, v);
                              write = true;
                              return 0;
                            });
  } catch (...) {
    return 2;
  }
}
