// CRSA: key parts, PKCS#1 v1.5 operations and key generation.
#include "vexa/crypto/rsa.h"

#include <openssl/obj_mac.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <sys/random.h>

#include <cstring>

#include "common.h"
#include "rsa_key.h"

using vexa::SecureBytes;
using vexa::crypto::Guard;
using vexa::crypto::RsaKey;

namespace {

constexpr std::size_t kSeedSize = 256;
constexpr std::size_t kPkcs1Overhead = 11;

std::span<const unsigned char> Bytes(const unsigned char* p, long len) {
  if (p == nullptr || len <= 0) return {};
  return {p, static_cast<std::size_t>(len)};
}

// Runs a one-shot EVP operation (sign, verify_recover, encrypt, decrypt) into a
// wiping buffer of the key size, so that OpenSSL never writes past the caller's
// buffer whatever its length.
template <class Fn>
bool RunInto(EVP_PKEY_CTX* ctx, std::size_t keySize, SecureBytes& out, Fn fn) {
  if (ctx == nullptr) return false;
  out.assign(keySize, 0);
  std::size_t outLen = out.size();
  if (fn(ctx, out.data(), &outLen) != 1 || outLen > out.size()) {
    out.clear();
    return false;
  }
  out.resize(outLen);
  return true;
}

// Hands a key part to a caller buffer: a null buffer, or one whose capacity is
// too small, is replaced by a new zero-filled one of the needed size.
void HandOut(const SecureBytes& part, std::size_t needed, unsigned char** buf,
             unsigned long& len) {
  if (*buf == nullptr || len < needed) {
    unsigned char* fresh = new unsigned char[needed == 0 ? 1 : needed]();
    if (*buf != nullptr) CryptoFreeBuffer(*buf, len);
    *buf = fresh;
  }
  // Right-aligned: a part shorter than needed keeps leading zeros.
  std::memset(*buf, 0, needed);
  std::memcpy(*buf + (needed - part.size()), part.data(), part.size());
  len = static_cast<unsigned long>(needed);
}

}  // namespace

CRSA::CRSA() {
  AllocRSA();
  // The seed buffer exists from the start; it is filled and fed to the random
  // generator by GenKeys, which renews it (OpenSSL seeds itself as well).
  m_pbSeed.assign(kSeedSize, 0);
}

CRSA::CRSA(const CRSA& other) : m_hSession(other.m_hSession) {
  AllocRSA();
  if (other.m_pRSA) *m_pRSA = *other.m_pRSA;
}

CRSA::~CRSA() { RSAFree(); }

CRSA& CRSA::operator=(const CRSA& other) {
  if (this == &other) return *this;
  AllocRSA();
  if (other.m_pRSA)
    *m_pRSA = *other.m_pRSA;
  else
    m_pRSA->Clear();
  return *this;
}

long CRSA::AllocRSA() {
  return Guard([&]() -> long {
    if (!m_pRSA) m_pRSA = std::make_unique<RsaKey>();
    return RSA_OK;
  });
}

long CRSA::AllocSeed() {
  return Guard([&]() -> long {
    if (!m_pbSeed.empty()) return RSA_OK;
    m_pbSeed.assign(kSeedSize, 0);
    // Fresh operating-system entropy, mixed into OpenSSL's generator (which
    // seeds itself too; this only adds).
    std::size_t got = 0;
    while (got < m_pbSeed.size()) {
      ssize_t n = getrandom(m_pbSeed.data() + got, m_pbSeed.size() - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got > 0) RAND_seed(m_pbSeed.data(), static_cast<int>(got));
    return RSA_OK;
  });
}

void CRSA::RSAFree() {
  m_pRSA.reset();
  vexa::SecureWipe(m_pbSeed.data(), m_pbSeed.size());
  m_pbSeed.clear();
}

int CRSA::GetOpenSSL_NID(int mdType) {
  switch (mdType) {
    case MD_TYPE_SHA1: return NID_sha1;
    case MD_TYPE_MD5: return NID_md5;
    case MD_TYPE_RIPEMD160:
      vexa::crypto::EnsureRipemd160();
      return NID_ripemd160;
    case MD_TYPE_MD5_SHA1: return NID_md5_sha1;
    default: return 0;
  }
}

long CRSA::InitPBK(unsigned char* mod, long modLen, unsigned char* exp, long expLen) {
  return Guard([&]() -> long {
    AllocRSA();
    if (mod != nullptr) m_pRSA->SetN(Bytes(mod, modLen));
    if (exp != nullptr) m_pRSA->SetE(Bytes(exp, expLen));
    return RSA_OK;
  });
}

long CRSA::InitPVK(unsigned char* mod, long modLen, unsigned char* d, long dLen) {
  return Guard([&]() -> long {
    AllocRSA();
    if (mod != nullptr) m_pRSA->SetN(Bytes(mod, modLen));
    if (d != nullptr) m_pRSA->SetD(Bytes(d, dLen));
    return RSA_OK;
  });
}

long CRSA::InitKeys(unsigned char* mod, long modLen, unsigned char* d, long dLen,
                    unsigned char* e, long eLen) {
  return InitPVK(mod, modLen, d, dLen) | InitPBK(mod, modLen, e, eLen);
}

long CRSA::InitKeysFromRSA(void* rsa) { return rsa == nullptr ? RSA_ERR_ARG : RSA_ERR_NO_KEY; }

long CRSA::InitKeysFromEVPKEY(void* pkey) {
  return Guard([&]() -> long {
    if (pkey == nullptr) return RSA_ERR_ARG;
    AllocRSA();
    auto* key = static_cast<EVP_PKEY*>(pkey);
    BIGNUM* d = nullptr;
    const bool hasD = EVP_PKEY_get_bn_param(key, "d", &d) == 1;
    BN_clear_free(d);
    RsaKey loaded;
    if (!loaded.LoadFrom(key, hasD, true)) return RSA_ERR_NO_KEY;
    if (hasD) {
      *m_pRSA = loaded;  // n, e, d and the parts belonging with d
    } else {
      // A public key replaces n and e; a private exponent held stays (as
      // InitKeys with no private exponent does).
      m_pRSA->SetN(loaded.n());
      if (!loaded.e().empty()) m_pRSA->SetE(loaded.e());
    }
    return RSA_OK;
  });
}

long CRSA::SavePBK(unsigned char** mod, unsigned long& modLen, unsigned char** e,
                   unsigned long& eLen) {
  return Guard([&]() -> long {
    if (mod == nullptr || e == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_KEY_PART;
    HandOut(m_pRSA->n(), m_pRSA->Size(), mod, modLen);
    HandOut(m_pRSA->e(), m_pRSA->e().size(), e, eLen);
    return RSA_OK;
  });
}

long CRSA::SavePVK(unsigned char** mod, unsigned long& modLen, unsigned char** d,
                   unsigned long& dLen) {
  return Guard([&]() -> long {
    if (mod == nullptr || d == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPrivate()) return RSA_ERR_KEY_PART;
    HandOut(m_pRSA->n(), m_pRSA->Size(), mod, modLen);
    HandOut(m_pRSA->d(), m_pRSA->d().size(), d, dLen);
    return RSA_OK;
  });
}

long CRSA::Encrypt(unsigned char* in, long inLen, unsigned char* out, long& outLen) {
  return Guard([&]() -> long {
    if (in == nullptr || out == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    if (outLen < 0 || static_cast<std::size_t>(outLen) < k) return RSA_ERR_NO_KEY;
    if (inLen < 0 || static_cast<std::size_t>(inLen) + kPkcs1Overhead > k) return RSA_ERR_LENGTH;
    SecureBytes result;
    if (!RunInto(m_pRSA->Context(RsaKey::Op::kEncrypt, 0), k, result,
                 [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                   return EVP_PKEY_encrypt(c, o, ol, in, static_cast<std::size_t>(inLen));
                 }) ||
        result.size() != k)
      return RSA_ERR_ENCRYPT;
    std::memcpy(out, result.data(), k);
    outLen = static_cast<long>(k);
    return RSA_OK;
  });
}

long CRSA::Decrypt(unsigned char* in, long inLen, unsigned char* out, long& outLen) {
  return Guard([&]() -> long {
    if (in == nullptr || out == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPrivate()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    if (outLen < 0 || static_cast<std::size_t>(outLen) < k) return RSA_ERR_NO_KEY;
    if (m_pRSA->PrivateKey() == nullptr) return RSA_ERR_NO_KEY;
    SecureBytes result;
    if (inLen <= 0 ||
        !RunInto(m_pRSA->Context(RsaKey::Op::kDecrypt, 0), k, result,
                 [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                   return EVP_PKEY_decrypt(c, o, ol, in, static_cast<std::size_t>(inLen));
                 }))
      return RSA_ERR_DECRYPT;
    std::memcpy(out, result.data(), result.size());
    outLen = static_cast<long>(result.size());
    return RSA_OK;
  });
}

long CRSA::Sign(unsigned char* in, long inLen, unsigned char* out, long& outLen, int mdType) {
  return Guard([&]() -> long {
    if (in == nullptr || out == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPrivate()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    if (outLen < 0 || static_cast<std::size_t>(outLen) < k) return RSA_ERR_NO_KEY;
    if (m_pRSA->PrivateKey() == nullptr) return RSA_ERR_NO_KEY;
    const int nid = GetOpenSSL_NID(mdType);
    SecureBytes result;
    if (nid == 0 || inLen <= 0 ||
        !RunInto(m_pRSA->Context(RsaKey::Op::kSignMd, nid), k, result,
                 [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                   return EVP_PKEY_sign(c, o, ol, in, static_cast<std::size_t>(inLen));
                 }))
      return RSA_ERR_SIGN;
    std::memcpy(out, result.data(), result.size());
    outLen = static_cast<long>(result.size());
    return RSA_OK;
  });
}

long CRSA::Verify(unsigned char* signature, long signatureLen, unsigned char* data,
                  long dataLen, int mdType) {
  return Guard([&]() -> long {
    if (signature == nullptr || data == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    if (signatureLen <= 0 || dataLen < 0) return RSA_ERR_VERIFY;
    if (mdType > 0) {
      const int nid = GetOpenSSL_NID(mdType);
      EVP_PKEY_CTX* ctx = nid == 0 ? nullptr : m_pRSA->Context(RsaKey::Op::kVerifyMd, nid);
      if (ctx == nullptr) return RSA_ERR_VERIFY;
      return EVP_PKEY_verify(ctx, signature, static_cast<std::size_t>(signatureLen), data,
                             static_cast<std::size_t>(dataLen)) == 1
                 ? RSA_OK
                 : RSA_ERR_VERIFY;
    }
    // Raw mode: recover the block and compare its beginning with data.
    if (static_cast<std::size_t>(signatureLen) != k || static_cast<std::size_t>(dataLen) > k)
      return RSA_ERR_VERIFY;
    const int padding = mdType == -1 ? RSA_PKCS1_PADDING : RSA_NO_PADDING;
    SecureBytes block;
    if (!RunInto(m_pRSA->Context(RsaKey::Op::kRecover, padding), k, block,
                 [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                   return EVP_PKEY_verify_recover(c, o, ol, signature, k);
                 }))
      return RSA_ERR_VERIFY;
    if (block.size() < static_cast<std::size_t>(dataLen) ||
        std::memcmp(block.data(), data, static_cast<std::size_t>(dataLen)) != 0)
      return RSA_ERR_VERIFY;
    return RSA_OK;
  });
}

long CRSA::RawSign(unsigned char* in, unsigned long inLen, unsigned char* out,
                   unsigned long* outLen, int padding) {
  return Guard([&]() -> long {
    if (in == nullptr || out == nullptr || outLen == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPrivate()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    if (*outLen < k || (padding != RSA_PKCS1_PADDING && padding != RSA_NO_PADDING))
      return RSA_ERR_NO_KEY;
    if (m_pRSA->PrivateKey() == nullptr) return RSA_ERR_NO_KEY;
    SecureBytes result;
    bool ok;
    if (padding == RSA_NO_PADDING) {
      // m^d mod n of exactly one block.
      ok = inLen == k &&
           RunInto(m_pRSA->Context(RsaKey::Op::kDecryptRaw, 0), k, result,
                   [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                     return EVP_PKEY_decrypt(c, o, ol, in, inLen);
                   });
    } else {
      ok = inLen > 0 && inLen + kPkcs1Overhead <= k &&
           RunInto(m_pRSA->Context(RsaKey::Op::kSignRaw, padding), k, result,
                   [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                     return EVP_PKEY_sign(c, o, ol, in, inLen);
                   });
    }
    if (!ok) return RSA_ERR_ENCRYPT;
    // The big-endian result may have lost leading zero bytes: a block is always
    // the key size.
    std::memset(out, 0, k - result.size());
    std::memcpy(out + (k - result.size()), result.data(), result.size());
    *outLen = static_cast<unsigned long>(k);
    return RSA_OK;
  });
}

long CRSA::RawVerify(unsigned char* in, unsigned long inLen, unsigned char* out,
                     unsigned long* outLen, int padding) {
  return Guard([&]() -> long {
    if (in == nullptr || out == nullptr || outLen == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    if (padding != RSA_PKCS1_PADDING && padding != RSA_NO_PADDING) return RSA_ERR_NO_KEY;
    const std::size_t need = padding == RSA_PKCS1_PADDING ? k - kPkcs1Overhead : k;
    if (*outLen < need) return RSA_ERR_NO_KEY;
    SecureBytes block;
    if (inLen != k ||
        !RunInto(m_pRSA->Context(RsaKey::Op::kRecover, padding), k, block,
                 [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                   return EVP_PKEY_verify_recover(c, o, ol, in, inLen);
                 }) ||
        block.size() > *outLen)
      return RSA_ERR_DECRYPT;
    std::memcpy(out, block.data(), block.size());
    *outLen = static_cast<unsigned long>(block.size());
    return RSA_OK;
  });
}

long CRSA::PublicDecrypt(unsigned char* in, long inLen, unsigned char* out, long* outLen) {
  return Guard([&]() -> long {
    if (in == nullptr || out == nullptr || outLen == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_NO_KEY;
    const std::size_t k = m_pRSA->Size();
    SecureBytes block;
    if (inLen <= 0 || static_cast<std::size_t>(inLen) != k ||
        !RunInto(m_pRSA->Context(RsaKey::Op::kRecover, RSA_PKCS1_PADDING), k, block,
                 [&](EVP_PKEY_CTX* c, unsigned char* o, std::size_t* ol) {
                   return EVP_PKEY_verify_recover(c, o, ol, in, k);
                 }) ||
        block.empty())
      return RSA_ERR_VERIFY;
    // The caller's capacity is checked: a short buffer is refused, never overrun.
    if (*outLen < 0 || static_cast<std::size_t>(*outLen) < block.size()) return RSA_ERR_NO_KEY;
    std::memcpy(out, block.data(), block.size());
    *outLen = static_cast<long>(block.size());
    return RSA_OK;
  });
}

long CRSA::GetKeySize(int inBytes) {
  if (!m_pRSA || !m_pRSA->HasN()) return RSA_ERR_NOT_AVAILABLE;
  return inBytes != 0 ? static_cast<long>(m_pRSA->Size()) : static_cast<long>(m_pRSA->Bits());
}

long CRSA::GetEVP_PKEY(void* pkey) {
  return Guard([&]() -> long {
    if (pkey == nullptr || !m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_HANDOVER;
    return m_pRSA->ExportTo(static_cast<EVP_PKEY*>(pkey)) ? RSA_OK : RSA_ERR_HANDOVER;
  });
}

long CRSA::IsPvkKey() { return m_pRSA && m_pRSA->HasPrivate() ? 1 : 0; }

long CRSA::IsPbkKey() { return m_pRSA && m_pRSA->HasPublic() ? 1 : 0; }

long CRSA::GenKeys(int bits, unsigned long e) {
  return Guard([&]() -> long {
    RSAFree();
    AllocSeed();
    AllocRSA();
    if (bits <= 0) return RSA_ERR_ARG;
    vexa::crypto::BnPtr exponent(BN_new());
    vexa::crypto::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!exponent || !ctx || BN_set_word(exponent.get(), e == 0 ? RSA_F4 : e) != 1 ||
        EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exponent.get()) != 1)
      return RSA_ERR_ARG;
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_generate(ctx.get(), &raw) != 1) return RSA_ERR_ARG;
    if (!m_pRSA->Adopt(vexa::crypto::PkeyPtr(raw))) return RSA_ERR_ARG;
    return CheckKeys();
  });
}

long CRSA::CheckKeys() {
  return Guard([&]() -> long {
    if (!m_pRSA || !m_pRSA->HasPublic() || !m_pRSA->HasPrivate() || !m_pRSA->HasCrt())
      return RSA_ERR_NOT_AVAILABLE;
    EVP_PKEY* key = m_pRSA->PrivateKey();
    if (key == nullptr) return RSA_ERR_NOT_AVAILABLE;
    vexa::crypto::PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx) return RSA_ERR_NOT_AVAILABLE;
    const int r = EVP_PKEY_check(ctx.get());
    if (r == 1) return RSA_OK;
    return r == 0 ? RSA_ERR_KEY_PART : RSA_ERR_NOT_AVAILABLE;
  });
}
