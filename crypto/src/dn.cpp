// CDN: a distinguished name built one RDN at a time, handed out as DER.
#include "vexa/crypto/dn.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include "common.h"

using vexa::crypto::Guard;

namespace vexa::crypto {
void X509NameDeleter::operator()(X509_NAME* n) const noexcept { X509_NAME_free(n); }
}  // namespace vexa::crypto

CDN::CDN() : m_pName(X509_NAME_new()) {}
CDN::~CDN() = default;

long CDN::AddRDN(int nid, char* text) {
  return Guard([&]() -> long {
    if (!m_pName || text == nullptr) return RSA_ERR_OPENSSL;
    return X509_NAME_add_entry_by_NID(m_pName.get(), nid, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(text), -1, -1, 0) == 1
               ? RSA_OK
               : RSA_ERR_OPENSSL;
  });
}

long CDN::Add_CN(char* text) { return AddRDN(NID_commonName, text); }
long CDN::Add_CO(char* text) { return AddRDN(NID_countryName, text); }
long CDN::Add_ST(char* text) { return AddRDN(NID_stateOrProvinceName, text); }
long CDN::Add_ON(char* text) { return AddRDN(NID_organizationName, text); }
long CDN::Add_OU(char* text) { return AddRDN(NID_organizationalUnitName, text); }
long CDN::Add_Email(char* text) { return AddRDN(NID_pkcs9_emailAddress, text); }

long CDN::GetASN1_DN(unsigned char** der, long& len) {
  return Guard([&]() -> long {
    if (der == nullptr || !m_pName) return RSA_ERR_OPENSSL;
    const int n = i2d_X509_NAME(m_pName.get(), nullptr);
    len = n > 0 ? n : 0;
    if (n <= 0) return n == 0 ? RSA_OK : RSA_ERR_OPENSSL;
    auto* buf = new unsigned char[static_cast<std::size_t>(n)];
    unsigned char* p = buf;
    if (i2d_X509_NAME(m_pName.get(), &p) != n) {
      delete[] buf;
      len = 0;
      return RSA_ERR_OPENSSL;
    }
    *der = buf;
    return RSA_OK;
  });
}

long CDN::makeRDN() { return 0; }
