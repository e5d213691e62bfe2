#include "common.h"

#include <fcntl.h>
#include <openssl/provider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vexa::crypto {

namespace {

// The providers this library loads, released again when the library is
// unloaded or the process ends. Built on first need: its destructor is then
// registered after OpenSSL's own exit handler and so runs before OpenSSL
// cleans up.
class Providers {
 public:
  Providers()
      // Loading any provider explicitly stops OpenSSL from loading the default
      // one on its own, so both are loaded.
      : default_(OSSL_PROVIDER_load(nullptr, "default")),
        legacy_(OSSL_PROVIDER_load(nullptr, "legacy")) {}
  ~Providers() {
    if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
    if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
  }
  Providers(const Providers&) = delete;
  Providers& operator=(const Providers&) = delete;

 private:
  OSSL_PROVIDER* default_;
  OSSL_PROVIDER* legacy_;
};

}  // namespace

void EnsureLegacyProvider() noexcept {
  try {
    static const Providers providers;
    (void)providers;
  } catch (...) {
  }
}

void EnsureRipemd160() noexcept {
  static const bool checked = [] {
    EVP_MD* md = EVP_MD_fetch(nullptr, "RIPEMD160", nullptr);
    if (md == nullptr) EnsureLegacyProvider();
    EVP_MD_free(md);
    return true;
  }();
  (void)checked;
}

bool ReadWholeFile(const char* path, SecureBytes& out) {
  out.clear();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  out.reserve(static_cast<std::size_t>(st.st_size));
  unsigned char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SecureWipe(chunk, sizeof chunk);
      ::close(fd);
      out.clear();
      return false;
    }
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  SecureWipe(chunk, sizeof chunk);
  ::close(fd);
  return true;
}

bool WriteWholeFile(const char* path, std::span<const unsigned char> data) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0;
}

SecureBytes Base64Encode(std::span<const unsigned char> data) {
  SecureBytes out(4 * ((data.size() + 2) / 3) + 1, 0);
  int n = data.empty() ? 0 : EVP_EncodeBlock(out.data(), data.data(), static_cast<int>(data.size()));
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

bool Base64Decode(std::span<const unsigned char> text, SecureBytes& out) {
  SecureBytes clean;
  clean.reserve(text.size());
  for (unsigned char c : text) {
    if ((c >= 7 && c <= 13) || c == ' ') continue;
    clean.push_back(c);
  }
  out.clear();
  if (clean.empty()) return true;
  if (clean.size() % 4 != 0) return false;
  std::size_t pad = 0;
  if (clean[clean.size() - 1] == '=') ++pad;
  if (clean[clean.size() - 2] == '=') ++pad;
  // "=" may only stand at the end.
  for (std::size_t i = 0; i + pad < clean.size(); ++i)
    if (clean[i] == '=') return false;
  out.resize(clean.size() / 4 * 3);
  int n = EVP_DecodeBlock(out.data(), clean.data(), static_cast<int>(clean.size()));
  if (n < 0 || static_cast<std::size_t>(n) < pad) {
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(n) - pad);
  return true;
}

SecureBytes BnToBytes(const BIGNUM* bn) {
  SecureBytes out;
  if (bn == nullptr) return out;
  out.resize(static_cast<std::size_t>(BN_num_bytes(bn)));
  if (!out.empty()) BN_bn2bin(bn, out.data());
  return out;
}

SecureBytes StripZeros(std::span<const unsigned char> be) {
  std::size_t i = 0;
  while (i < be.size() && be[i] == 0) ++i;
  return SecureBytes(be.begin() + static_cast<std::ptrdiff_t>(i), be.end());
}

}  // namespace vexa::crypto

VEXA_API void CryptoFreeBuffer(unsigned char* buf, unsigned long len) noexcept {
  if (buf == nullptr) return;
  vexa::SecureWipe(buf, len);
  delete[] buf;
}
