#include "vexa/platform/shared_segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vexa::detail {

namespace {

// Longest part of the name taken over as it stands; NAME_MAX (255) leaves room
// for the hash and the user id after it.
constexpr std::size_t kMaxNameBody = 200;
// A block larger than this is not one this system made: refuse to map it.
constexpr off_t kMaxSegmentSize = 64 * 1024 * 1024;
// How often Open starts again when the object vanished under it (a last holder
// unlinked it between our open and our lock).
constexpr int kOpenAttempts = 16;

bool IsSafeNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '.' || c == '_' || c == '-';
}

std::uint64_t Fnv1a64(std::string_view s) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

// Takes (type F_RDLCK / F_WRLCK) or converts the open-file-description lock on
// byte 0. Converting an existing lock of ours is atomic.
int OfdLock(int fd, short type, bool wait) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  int r;
  do {
    r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

std::string PosixObjectName(std::string_view name, uid_t uid) {
  std::string body;
  body.reserve(name.size() + 32);
  bool changed = false;
  for (char c : name) {
    if (IsSafeNameChar(c)) {
      body.push_back(c);
    } else {
      body.push_back('_');
      changed = true;
    }
  }
  if (body.size() > kMaxNameBody) {
    body.resize(kMaxNameBody);
    changed = true;
  }
  if (changed) {
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx",
                  static_cast<unsigned long long>(Fnv1a64(name)));
    body += hash;
  }
  return "/" + body + ".u" + std::to_string(static_cast<unsigned long>(uid));
}

SharedSegment::~SharedSegment() { Close(); }

SharedSegment::OpenResult SharedSegment::Open(
    const std::string& posixName, std::size_t size,
    const std::function<void(std::span<BYTE>)>& setUp) {
  Close();
  if (size == 0 || size > static_cast<std::size_t>(kMaxSegmentSize)) return OpenResult::OpenFailed;

  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    bool created = false;
    int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
      created = true;
      // The umask may have taken bits away; the owner needs both.
      if (fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        close(fd);
        shm_unlink(posixName.c_str());
        return OpenResult::OpenFailed;
      }
    } else if (errno == EEXIST) {
      fd = shm_open(posixName.c_str(), O_RDWR, 0);
      if (fd < 0) {
        if (errno == ENOENT) continue;  // its last holder just unlinked it
        return OpenResult::OpenFailed;
      }
    } else {
      return OpenResult::OpenFailed;
    }

    // Only a block that this user made, and that nobody else may read or write,
    // is used: another user cannot plant a block for us to load.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
      close(fd);
      return OpenResult::OpenFailed;
    }

    bool exclusive = false;
    if (created) {
      if (OfdLock(fd, F_WRLCK, true) != 0) {
        close(fd);
        return OpenResult::OpenFailed;
      }
      exclusive = true;
    } else if (OfdLock(fd, F_WRLCK, false) == 0) {
      exclusive = true;  // nobody holds it: what it holds is stale
    } else if (errno == EAGAIN || errno == EACCES) {
      if (OfdLock(fd, F_RDLCK, true) != 0) {
        close(fd);
        return OpenResult::OpenFailed;
      }
    } else {
      close(fd);
      return OpenResult::OpenFailed;
    }

    if (fstat(fd, &st) != 0) {
      close(fd);
      return OpenResult::OpenFailed;
    }
    if (st.st_nlink == 0) {  // unlinked by its last holder before we got the lock
      close(fd);
      continue;
    }
    // The size only ever grows, and only under the exclusive lock, so a block
    // never shrinks under another process's mapping.
    if (exclusive && st.st_size < static_cast<off_t>(size)) {
      if (ftruncate(fd, static_cast<off_t>(size)) != 0 || fstat(fd, &st) != 0) {
        close(fd);
        return OpenResult::OpenFailed;
      }
    }
    if (st.st_size <= 0 || st.st_size > kMaxSegmentSize) {
      close(fd);
      return OpenResult::OpenFailed;
    }

    const std::size_t mapSize = static_cast<std::size_t>(st.st_size);
    void* view = mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
      close(fd);
      return OpenResult::MapFailed;
    }
    m_fd = fd;
    m_pView = static_cast<BYTE*>(view);
    m_nSize = mapSize;
    m_strName = posixName;
    m_pidOwner = getpid();

    if (exclusive) {
      std::memset(m_pView, 0, m_nSize);
      try {
        if (setUp) setUp(Bytes());
      } catch (...) {
        Close();
        return OpenResult::OpenFailed;
      }
      OfdLock(fd, F_RDLCK, false);  // downgrade: others may join now
      return OpenResult::Created;
    }
    return OpenResult::Opened;
  }
  return OpenResult::OpenFailed;
}

void SharedSegment::Close() noexcept {
  if (m_pView != nullptr) {
    munmap(m_pView, m_nSize);
    m_pView = nullptr;
  }
  if (m_fd >= 0) {
    // The last holder removes the name. A forked child shares its parent's
    // lock and so cannot tell whether it is the last: it leaves the name alone.
    if (m_pidOwner == getpid() && OfdLock(m_fd, F_WRLCK, false) == 0) {
      struct stat st;
      if (fstat(m_fd, &st) == 0 && st.st_nlink > 0) shm_unlink(m_strName.c_str());
    }
    close(m_fd);
    m_fd = -1;
  }
  m_nSize = 0;
  m_strName.clear();
  m_pidOwner = 0;
}

}  // namespace vexa::detail
