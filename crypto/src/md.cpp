// CMD: message digests over memory or a file, fed in 4096-byte pieces.
#include "vexa/crypto/md.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common.h"

using vexa::crypto::Guard;

long CMD::m_lInstance = 0;

namespace {
void Count(long delta) { __atomic_add_fetch(&CMD::m_lInstance, delta, __ATOMIC_RELAXED); }
}  // namespace

CMD::CMD() { Count(1); }

CMD::CMD(tTYPE t) : m_pMD(New(t)) { Count(1); }

CMD::CMD(const CMD& other)
    : m_bReady(other.m_bReady), m_bSource(other.m_bSource), m_lLen(other.m_lLen),
      m_Data(other.m_Data), m_Path(other.m_Path), m_pMD(other.m_pMD) {
  Count(1);
}

CMD& CMD::operator=(const CMD& other) = default;

CMD::~CMD() { Count(-1); }

const EVP_MD* CMD::New(tTYPE t) {
  switch (t) {
    case tSHA1: return EVP_sha1();
    case tMD5: return EVP_md5();
    case tRIPEMD160:
      vexa::crypto::EnsureRipemd160();
      return EVP_ripemd160();
    case tMD5SHA1: return EVP_md5_sha1();
    default: return nullptr;
  }
}

long CMD::Init(unsigned char* data, long len) {
  return Guard([&]() -> long {
    if (data == nullptr && len > 0) return RSA_ERR_KEY_PART;
    m_Data.assign(data, data + (len > 0 ? len : 0));
    m_Path.clear();
    m_lLen = len > 0 ? len : 0;
    m_bSource = 1;
    m_bReady = 1;
    return RSA_OK;
  });
}

long CMD::Init(char* path) {
  return Guard([&]() -> long {
    struct stat st {};
    if (path == nullptr || ::stat(path, &st) != 0) return RSA_ERR_ARG;
    m_Path = path;
    m_Data.clear();
    m_lLen = static_cast<long>(st.st_size);
    m_bSource = 2;
    m_bReady = 1;
    return RSA_OK;
  });
}

long CMD::CalcolateMD(unsigned char* out, unsigned int& len, tTYPE t) {
  const EVP_MD* md = New(t);
  if (md == nullptr) return RSA_ERR_NO_KEY;
  m_pMD = md;
  return CalcolateMD(out, len);
}

long CMD::CalcolateMD(unsigned char* out, unsigned int& len) {
  return Guard([&]() -> long {
    if (!m_bReady || m_pMD == nullptr) return RSA_ERR_KEY_PART;
    const int size = EVP_MD_get_size(m_pMD);
    if (out == nullptr || size <= 0 || len < static_cast<unsigned int>(size)) return RSA_ERR_LENGTH;
    vexa::crypto::MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) return RSA_ERR_MEMORY;
    if (EVP_DigestInit_ex(ctx.get(), m_pMD, nullptr) != 1) return RSA_ERR_NO_KEY;
    if (m_bSource == 1) {
      if (!m_Data.empty() && EVP_DigestUpdate(ctx.get(), m_Data.data(), m_Data.size()) != 1)
        return RSA_ERR_NO_KEY;
    } else {
      const int fd = ::open(m_Path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return RSA_ERR_ENCRYPT;
      unsigned char chunk[4096];
      for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          ::close(fd);
          return RSA_ERR_ENCRYPT;
        }
        if (n == 0) break;
        EVP_DigestUpdate(ctx.get(), chunk, static_cast<std::size_t>(n));
      }
      ::close(fd);
    }
    unsigned int got = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out, &got) != 1) return RSA_ERR_NO_KEY;
    len = got;
    return RSA_OK;
  });
}

long CMD::GetMDtype() { return RSA_ERR_NOT_AVAILABLE; }
