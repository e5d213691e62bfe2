// CX509v3: an X.509 certificate parsed by OpenSSL, with getters.
#include "vexa/crypto/x509v3.h"

#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "common.h"
#include "vexa/crypto/rsa.h"

using vexa::crypto::Guard;

namespace vexa::crypto {
void X509Deleter::operator()(X509* x) const noexcept { X509_free(x); }
}  // namespace vexa::crypto

namespace {

struct BioFree { void operator()(BIO* b) const noexcept { BIO_free(b); } };
using BioPtr = std::unique_ptr<BIO, BioFree>;

// Copies a value into the caller's buffer after checking its capacity (len on
// entry); len on return is the value's length, or the size needed on 132.
long CopyOut(const void* value, std::size_t valueLen, std::size_t needed, std::size_t reported,
             unsigned char* out, long& len) {
  if (out == nullptr) {
    len = static_cast<long>(needed);
    return RSA_OK;
  }
  if (len < 0 || static_cast<std::size_t>(len) < needed) {
    len = static_cast<long>(needed);
    return RSA_ERR_LENGTH;
  }
  if (valueLen > 0) std::memcpy(out, value, valueLen);
  if (needed > valueLen) std::memset(out + valueLen, 0, needed - valueLen);
  len = static_cast<long>(reported);
  return RSA_OK;
}

// Text out with its NUL; the returned length excludes the NUL.
long CopyText(const std::string& text, unsigned char* out, long& len) {
  return CopyOut(text.data(), text.size(), text.size() + 1, text.size(), out, len);
}

X509* ParseCertificate(const unsigned char* data, long len, CX509v3::t_FORMAT f) {
  if (data == nullptr || len <= 0) return nullptr;
  if (f == CX509v3::tDER) {
    const unsigned char* p = data;
    return d2i_X509(nullptr, &p, len);
  }
  BioPtr bio(BIO_new_mem_buf(data, static_cast<int>(len)));
  if (!bio) return nullptr;
  return PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
}

}  // namespace

CX509v3::CX509v3() = default;

CX509v3::CX509v3(const CX509v3& other) { *this = other; }

CX509v3& CX509v3::operator=(const CX509v3& other) {
  if (this == &other) return *this;
  m_bExtCursor = 0;
  if (other.m_bInit && other.m_pX509) {
    if (InitFromX509(other.m_pX509.get()) != RSA_OK) {
      m_pX509.reset();
      m_bInit = 0;
    }
  } else {
    m_pX509.reset();
    m_bInit = 0;
  }
  return *this;
}

CX509v3::~CX509v3() = default;

long CX509v3::Init(unsigned char* data, long len, t_FORMAT f) {
  return Guard([&]() -> long {
    if (f != tPEM && f != tDER) return RSA_ERR_NO_KEY;
    if (len > 0 && len > static_cast<long>(INT32_MAX)) return RSA_ERR_OPENSSL;
    X509* x = ParseCertificate(data, len, f);
    m_bExtCursor = 0;
    if (x == nullptr) {
      m_pX509.reset();
      m_bInit = 0;
      return RSA_ERR_OPENSSL;
    }
    m_pX509.reset(x);
    m_bInit = 1;
    return RSA_OK;
  });
}

long CX509v3::Init(char* path, t_FORMAT f) {
  return Guard([&]() -> long {
    if (f != tPEM && f != tDER) return RSA_ERR_NO_KEY;
    if (path == nullptr) return RSA_ERR_ARG;
    vexa::SecureBytes file;
    if (!vexa::crypto::ReadWholeFile(path, file)) {
      m_pX509.reset();
      m_bInit = 0;
      return RSA_ERR_FILE;
    }
    return Init(file.data(), static_cast<long>(file.size()), f);
  });
}

long CX509v3::InitFromX509(void* x509) {
  return Guard([&]() -> long {
    if (x509 == nullptr) return RSA_ERR_ARG;
    unsigned char* der = nullptr;
    const int n = i2d_X509(static_cast<X509*>(x509), &der);
    if (n <= 0) return RSA_ERR_OPENSSL;
    const unsigned char* p = der;
    X509* copy = d2i_X509(nullptr, &p, n);
    OPENSSL_free(der);
    m_bExtCursor = 0;
    if (copy == nullptr) {
      m_pX509.reset();
      m_bInit = 0;
      return RSA_ERR_OPENSSL;
    }
    m_pX509.reset(copy);
    m_bInit = 1;
    return RSA_OK;
  });
}

long CX509v3::GetBER(unsigned char** der, long& len) const {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    if (der == nullptr) return RSA_ERR_ARG;
    const int n = i2d_X509(m_pX509.get(), nullptr);
    if (n <= 0) return RSA_ERR_OPENSSL;
    auto* buf = new unsigned char[static_cast<std::size_t>(n)];
    unsigned char* p = buf;
    if (i2d_X509(m_pX509.get(), &p) != n) {
      delete[] buf;
      return RSA_ERR_OPENSSL;
    }
    *der = buf;
    len = n;
    return RSA_OK;
  });
}

long CX509v3::GetVersion(long& v) {
  if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
  v = X509_get_version(m_pX509.get()) + 1;
  return RSA_OK;
}

long CX509v3::GetSerialNum(unsigned char* buf, long& len) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    const ASN1_INTEGER* serial = X509_get0_serialNumber(m_pX509.get());
    if (serial == nullptr) return RSA_ERR_OPENSSL;
    const std::size_t n = static_cast<std::size_t>(ASN1_STRING_length(serial));
    return CopyOut(ASN1_STRING_get0_data(serial), n, n, n, buf, len);
  });
}

long CX509v3::GetSignature(unsigned char* buf, long& len) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    const ASN1_BIT_STRING* sig = nullptr;
    X509_get0_signature(&sig, nullptr, m_pX509.get());
    if (sig == nullptr) return RSA_ERR_OPENSSL;
    const std::size_t n = static_cast<std::size_t>(ASN1_STRING_length(sig));
    return CopyOut(ASN1_STRING_get0_data(sig), n, n, n, buf, len);
  });
}

long CX509v3::GetAlgorithm(const void* objPtr, unsigned char* out, long& len, t_FORMAT f) {
  const auto* obj = static_cast<const ASN1_OBJECT*>(objPtr);
  if (obj == nullptr) return RSA_ERR_OPENSSL;
  if (f < tNID || f > tOIDTEXT) return RSA_ERR_KEY_PART;
  const int nid = OBJ_obj2nid(obj);
  if (f == tOID) {
    const std::size_t n = OBJ_length(obj);
    return CopyOut(OBJ_get0_data(obj), n, n, n, out, len);
  }
  if (f == tOIDTEXT) {
    char text[256];
    const int n = OBJ_obj2txt(text, sizeof text, obj, 1);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) return RSA_ERR_OPENSSL;
    return CopyText(std::string(text, static_cast<std::size_t>(n)), out, len);
  }
  if (nid == NID_undef) {
    // No NID: an empty string of length 1.
    const long r = CopyOut("", 1, 1, 1, out, len);
    return r == RSA_OK ? RSA_ERR_NO_NID : r;
  }
  if (f == tNID) {
    const unsigned char le[4] = {static_cast<unsigned char>(nid), static_cast<unsigned char>(nid >> 8),
                                 static_cast<unsigned char>(nid >> 16), static_cast<unsigned char>(nid >> 24)};
    return CopyOut(le, 4, 4, 4, out, len);
  }
  const char* name = f == tSHORTNAME ? OBJ_nid2sn(nid) : OBJ_nid2ln(nid);
  return CopyText(name != nullptr ? name : "", out, len);
}

long CX509v3::GetSigAlgorithm(unsigned char* out, long& len, t_FORMAT f) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    const X509_ALGOR* alg = nullptr;
    X509_get0_signature(nullptr, &alg, m_pX509.get());
    const ASN1_OBJECT* obj = nullptr;
    if (alg != nullptr) X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    return GetAlgorithm(obj, out, len, f);
  });
}

long CX509v3::GetPbkAlgorithm(unsigned char* out, long& len, t_FORMAT f) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    X509_PUBKEY* pub = X509_get_X509_PUBKEY(m_pX509.get());
    ASN1_OBJECT* obj = nullptr;
    if (pub == nullptr || X509_PUBKEY_get0_param(&obj, nullptr, nullptr, nullptr, pub) != 1)
      return RSA_ERR_OPENSSL;
    return GetAlgorithm(obj, out, len, f);
  });
}

long CX509v3::GetName(bool issuer, unsigned char* out, long& len) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    const X509_NAME* name = issuer ? X509_get_issuer_name(m_pX509.get())
                                   : X509_get_subject_name(m_pX509.get());
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || name == nullptr || X509_NAME_print(bio.get(), name, 16) != 1) return RSA_ERR_OPENSSL;
    char* text = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &text);
    if (n < 0) return RSA_ERR_OPENSSL;
    return CopyText(std::string(text != nullptr ? text : "", static_cast<std::size_t>(n)), out, len);
  });
}

long CX509v3::GetIssuer(unsigned char* out, long& len) { return GetName(true, out, len); }

long CX509v3::GetSubject(unsigned char* out, long& len) { return GetName(false, out, len); }

long CX509v3::TransformTime(int type, const char* text, long textLen, char* out) {
  if (text == nullptr || out == nullptr || textLen < 0) return RSA_ERR_ARG;
  auto digits = [&](long from, long count) {
    for (long i = from; i < from + count; ++i)
      if (i >= textLen || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
  };
  auto num = [&](long at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  int year, pos;
  if (type == V_ASN1_UTCTIME) {
    if (textLen < 10 || !digits(0, 10)) return RSA_ERR_ARG;
    const int yy = num(0);
    year = yy < 50 ? 2000 + yy : 1900 + yy;
    pos = 2;
  } else if (type == V_ASN1_GENERALIZEDTIME) {
    if (textLen < 12 || !digits(0, 12)) return RSA_ERR_ARG;
    year = num(0) * 100 + num(2);
    pos = 4;
  } else {
    return RSA_OK;
  }
  const int month = num(pos), day = num(pos + 2), hour = num(pos + 4), minute = num(pos + 6);
  if (month < 1 || month > 12) return RSA_ERR_ARG;
  const int second = digits(pos + 8, 2) ? num(pos + 8) : 0;
  const bool gmt = textLen > 0 && text[textLen - 1] == 'Z';
  // Every field is two or four digits: the text is at most 18 characters.
  char text19[40];
  const int n = std::snprintf(text19, sizeof text19, "%04d%02d%02d%02d%02d%02d%s", year, month,
                              day, hour, minute, second, gmt ? " GMT" : "");
  if (n < 0 || n > 18) return RSA_ERR_ARG;
  std::memcpy(out, text19, static_cast<std::size_t>(n) + 1);
  return RSA_OK;
}

long CX509v3::GetValidity(char* notBefore, char* notAfter) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    auto one = [](const ASN1_TIME* t, char* out) {
      if (t == nullptr || out == nullptr) return;
      TransformTime(ASN1_STRING_type(t), reinterpret_cast<const char*>(ASN1_STRING_get0_data(t)),
                    ASN1_STRING_length(t), out);
    };
    one(X509_get0_notBefore(m_pX509.get()), notBefore);
    one(X509_get0_notAfter(m_pX509.get()), notAfter);
    return RSA_OK;
  });
}

long CX509v3::GetPbkKey(CRSA& rsa) {
  return Guard([&]() -> long {
    if (!m_bInit || !m_pX509) return RSA_ERR_ENCRYPT;
    EVP_PKEY* pkey = X509_get0_pubkey(m_pX509.get());
    if (pkey != nullptr && EVP_PKEY_get_base_id(pkey) == EVP_PKEY_RSA) rsa.InitKeysFromEVPKEY(pkey);
    return RSA_OK;
  });
}

long CX509v3::GetNumExts() {
  if (!m_bInit || !m_pX509) return 0;
  return X509_get_ext_count(m_pX509.get());
}

long CX509v3::MoveNextExt() {
  const long count = GetNumExts();
  m_bExtCursor = static_cast<unsigned char>(m_bExtCursor + 1 >= count ? 0 : m_bExtCursor + 1);
  return m_bExtCursor;
}

long CX509v3::MovePrevExt() {
  if (m_bExtCursor > 0) --m_bExtCursor;
  return m_bExtCursor;
}

long CX509v3::IsEndExt() { return m_bExtCursor == 0 ? 1 : 0; }

long CX509v3::GetExtension() { return 0; }
