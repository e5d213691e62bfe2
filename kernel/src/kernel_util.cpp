// HexText and WriteFileBytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "vexa/kernel/util.h"

std::string HexText(const BYTE* bytes, std::size_t len, char separator, bool reverse) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  if (bytes == nullptr) len = 0;
  out.reserve(len * (separator != '\0' ? 3 : 2));
  for (std::size_t i = 0; i < len; ++i) {
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 15]);
    if (separator != '\0') out.push_back(separator);
  }
  if (reverse) std::reverse(out.begin(), out.end());
  return out;
}

int WriteFileBytes(const char* path, const BYTE* bytes, std::size_t len, bool append) {
  if (path == nullptr || *path == '\0' || (bytes == nullptr && len != 0)) return -1;
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | (append ? O_APPEND : O_TRUNC);
  const int fd = ::open(path, flags, 0600);
  if (fd < 0) return -1;
  bool ok = true;
  std::size_t done = 0;
  while (done < len) {
    ssize_t n = ::write(fd, bytes + done, len - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok ? 0 : -1;
}
