// CPKCS12: PKCS#12 files read into a CRSA and a CX509v3, and written back.
#include "vexa/crypto/pkcs12.h"

#include <openssl/pkcs12.h>

#include <cstring>

#include "common.h"
#include "key_codec.h"
#include "rsa_key.h"

using vexa::SecureBytes;
using vexa::crypto::Guard;

namespace {
// Far above what any tool writes (OpenSSL 2048, current guidance 600000).
constexpr int64_t kMaxIterations = 1000000;

struct P12Free { void operator()(PKCS12* p) const noexcept { PKCS12_free(p); } };
struct X509Free { void operator()(X509* x) const noexcept { X509_free(x); } };
struct X509StackFree {
  void operator()(STACK_OF(X509)* s) const noexcept { sk_X509_pop_free(s, X509_free); }
};
}  // namespace

CPKCS12::CPKCS12() = default;
CPKCS12::~CPKCS12() = default;

long CPKCS12::Init(tFORMATI f, char* path, char* password) {
  return Guard([&]() -> long {
    m_bInit = 0;
    m_bHasRSA = 0;
    m_bHasX509 = 0;
    if (path == nullptr) return RSA_ERR_ARG;
    SecureBytes file;
    if (!vexa::crypto::ReadWholeFile(path, file)) return RSA_ERR_FILE;
    SecureBytes der;
    const long r = vexa::crypto::UnwrapAnyArmour(file, f, der);
    if (r != RSA_OK) return r;
    if (der.empty() || der.size() > static_cast<std::size_t>(INT32_MAX)) return RSA_ERR_OPENSSL;

    // Files of older tools use RC2-40, which only the legacy provider has.
    vexa::crypto::EnsureLegacyProvider();
    const unsigned char* p = der.data();
    std::unique_ptr<PKCS12, P12Free> p12(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
    if (!p12) return RSA_ERR_OPENSSL;
    // The MAC is checked first and costs one key derivation of the file's own
    // iteration count: a file asking for an absurd count would hold the caller
    // for hours, so it is refused as malformed.
    const ASN1_INTEGER* iter = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, nullptr, &iter, p12.get());
    if (iter != nullptr) {
      int64_t count = 0;
      if (ASN1_INTEGER_get_int64(&count, iter) != 1 || count < 1 || count > kMaxIterations)
        return RSA_ERR_OPENSSL;
    }

    // The password is copied into a wiping buffer for the time of the parse.
    SecureBytes pass;
    if (password != nullptr) {
      pass.assign(password, password + std::strlen(password));
      pass.push_back(0);
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawCa = nullptr;
    const int ok = PKCS12_parse(p12.get(), password != nullptr ? reinterpret_cast<char*>(pass.data()) : nullptr,
                                &rawKey, &rawCert, &rawCa);
    vexa::crypto::PkeyPtr key(rawKey);
    std::unique_ptr<X509, X509Free> cert(rawCert);
    std::unique_ptr<STACK_OF(X509), X509StackFree> ca(rawCa);
    if (ok != 1) return RSA_ERR_OPENSSL;

    if (key) {
      if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return RSA_ERR_OPENSSL;
      m_RSA = CRSA();
      if (m_RSA.InitKeysFromEVPKEY(key.get()) != RSA_OK) return RSA_ERR_OPENSSL;
      m_bHasRSA = 1;
    }
    // OpenSSL returns only a certificate that matches the key; in a file
    // without a key, the first certificate is the one it carries.
    if (!cert && !key && ca && sk_X509_num(ca.get()) > 0) {
      cert.reset(sk_X509_shift(ca.get()));
    }
    if (cert) {
      if (m_X509.InitFromX509(cert.get()) != RSA_OK) {
        m_bHasRSA = 0;
        return RSA_ERR_OPENSSL;
      }
      m_bHasX509 = 1;
    }
    m_bInit = 1;
    return RSA_OK;
  });
}

long CPKCS12::GetRSA(CRSA& rsa) {
  return Guard([&]() -> long {
    if (!m_bHasRSA) return RSA_ERR_HANDOVER;
    rsa = m_RSA;
    return RSA_OK;
  });
}

long CPKCS12::GetX509(CX509v3& cert) {
  return Guard([&]() -> long {
    if (!m_bHasX509) return RSA_ERR_NO_CERT;
    cert = m_X509;
    return RSA_OK;
  });
}

long CPKCS12::SetRSA(CRSA rsa) {
  return Guard([&]() -> long {
    m_RSA = rsa;
    m_bHasRSA = 1;
    return RSA_OK;
  });
}

long CPKCS12::SetX509(CX509v3 cert) {
  return Guard([&]() -> long {
    m_X509 = cert;
    m_bHasX509 = m_X509.Get0() != nullptr ? 1 : 0;
    return RSA_OK;
  });
}

long CPKCS12::WriteP12ToFile(char* path, char* password, char* friendlyName) {
  return Guard([&]() -> long {
    if (path == nullptr) return RSA_ERR_ARG;
    if (!m_bHasRSA || m_RSA.Key() == nullptr || !m_RSA.Key()->HasPrivate()) return RSA_ERR_KEY_PART;
    if (!m_bHasX509 || m_X509.Get0() == nullptr) return RSA_ERR_NO_CERT;
    EVP_PKEY* key = m_RSA.Key()->PrivateKey();
    if (key == nullptr) return RSA_ERR_KEY_PART;
    // Current encryption (AES-256-CBC with PBKDF2, SHA-256 MAC): OpenSSL's defaults.
    std::unique_ptr<PKCS12, P12Free> p12(
        PKCS12_create(password, friendlyName, key, m_X509.Get0(), nullptr, 0, 0, 0, 0, 0));
    if (!p12) return RSA_ERR_OPENSSL;
    unsigned char* der = nullptr;
    const int n = i2d_PKCS12(p12.get(), &der);
    if (n <= 0 || der == nullptr) return RSA_ERR_OPENSSL;
    const bool written = vexa::crypto::WriteWholeFile(path, {der, static_cast<std::size_t>(n)});
    OPENSSL_clear_free(der, static_cast<std::size_t>(n));
    return written ? RSA_OK : RSA_ERR_FILE;
  });
}
