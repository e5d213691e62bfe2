// CDN: builds a DER-encoded X.500 distinguished name, one RDN at a time.
#pragma once

#include <memory>

#include "vexa/crypto/result.h"
#include "vexa/platform/export.h"

typedef struct X509_name_st X509_NAME;

namespace vexa::crypto {
struct X509NameDeleter {
  void operator()(X509_NAME* n) const noexcept;
};
}  // namespace vexa::crypto

class VEXA_API CDN {
 public:
  CDN();
  virtual ~CDN();
  CDN(const CDN&) = delete;
  CDN& operator=(const CDN&) = delete;

  // Append one RDN (commonName, countryName, stateOrProvinceName,
  // organizationName, organizationalUnitName, emailAddress) from ASCII text.
  // 0, or 1 when OpenSSL refuses (null text, a country name not of 2 letters...).
  long Add_CN(char* text);
  long Add_CO(char* text);
  long Add_ST(char* text);
  long Add_ON(char* text);
  long Add_OU(char* text);
  long Add_Email(char* text);
  // The DER of the Name in a new[] buffer owned by the caller; len = its length.
  // Nothing is allocated when the length is 0. 0 or 1.
  long GetASN1_DN(unsigned char** der, long& len);
  // 0; does nothing.
  long makeRDN();

 protected:
  long AddRDN(int nid, char* text);

 private:
  std::unique_ptr<X509_NAME, vexa::crypto::X509NameDeleter> m_pName;
};
