// CX509v3: a parsed X.509 certificate with getters.
//
// Every getter returns 133 (RSA_ERR_ENCRYPT, "not initialised") before a
// successful Init/InitFromX509/assignment.
//
// Output buffers: for GetSerialNum, GetSignature, GetSigAlgorithm,
// GetPbkAlgorithm, GetIssuer and GetSubject, len is the capacity of out on entry
// and the value's length on return. A buffer that is too small gives 132
// (RSA_ERR_LENGTH) with len set to the size needed; a null out gives 0 with len
// set to the size needed. Text results are NUL-terminated and the size needed
// counts the NUL; the returned length of a name excludes it.
#pragma once

#include <memory>

#include "vexa/crypto/result.h"
#include "vexa/platform/export.h"

class CRSA;
typedef struct x509_st X509;

namespace vexa::crypto {
struct X509Deleter {
  void operator()(X509* x) const noexcept;
};
}  // namespace vexa::crypto

class VEXA_API CX509v3 {
 public:
  // Input formats (6, 7) and forms of an algorithm identifier (1-5).
  enum t_FORMAT {
    tNID = 1,       // the NID as a 4-byte little-endian integer, length 4
    tSHORTNAME = 2, // OpenSSL short name, NUL-terminated, length = text length
    tLONGNAME = 3,  // OpenSSL long name, NUL-terminated
    tOID = 4,       // the content octets of the OBJECT IDENTIFIER
    tOIDTEXT = 5,   // dotted numeric text, NUL-terminated
    tPEM = 6,       // certificate input: PEM text with a CERTIFICATE block
    tDER = 7,       // certificate input: DER
  };

  CX509v3();
  CX509v3(const CX509v3& other);
  CX509v3& operator=(const CX509v3& other);
  ~CX509v3();

  // Parses PEM (6) or DER (7). 0; 131 other format; 1 the data does not parse
  // (the object is then not initialised).
  long Init(unsigned char* data, long len, t_FORMAT f);
  // Reads the whole file, then as above; 137 when it cannot be read.
  long Init(char* path, t_FORMAT f);
  // Copy of an OpenSSL X509 (through its DER). 0, 1 (129 for null).
  long InitFromX509(void* x509);
  // The DER encoding in a new[] buffer owned by the caller. 0, 133.
  long GetBER(unsigned char** der, long& len) const;
  // The version field plus 1 (a v3 certificate gives 3).
  long GetVersion(long& v);
  // The serial number's content octets.
  long GetSerialNum(unsigned char* buf, long& len);
  // The signature bits as bytes.
  long GetSignature(unsigned char* buf, long& len);
  // Algorithm identifiers in form f (1-5): 0; 130 other form; -1 the OID has no
  // NID in OpenSSL (out: empty string, length 1).
  long GetSigAlgorithm(unsigned char* out, long& len, t_FORMAT f);
  long GetPbkAlgorithm(unsigned char* out, long& len, t_FORMAT f);
  // The name on one line ("C=IT, O=..., CN=..."), NUL-terminated; 0, 1, 132, 133.
  long GetIssuer(unsigned char* out, long& len);
  long GetSubject(unsigned char* out, long& len);
  // Both times as "YYYYMMDDhhmmss" plus " GMT" when the time ends in Z; each
  // buffer must hold 19 bytes. 0 (133 when not initialised).
  long GetValidity(char* notBefore, char* notAfter);
  // Loads an RSA public key into rsa (n and e); another key type leaves rsa
  // unchanged. 0.
  long GetPbkKey(CRSA& rsa);

  // Extension cursor.
  long GetNumExts();
  long MoveNextExt();  // wraps to 0 past the count
  long MovePrevExt();  // stops at 0
  long IsEndExt();     // true at 0
  long GetExtension(); // 0; extensions are not read

  // The library's own access to the certificate (null when not initialised).
  X509* Get0() const { return m_bInit ? m_pX509.get() : nullptr; }

 protected:
  // ASN.1 time (type V_ASN1_UTCTIME 23 or V_ASN1_GENERALIZEDTIME 24, its text)
  // into out ("%04d%02d%02d%02d%02d%02d" plus " GMT"). 0 or 129 when malformed;
  // another type leaves out untouched and returns 0.
  static long TransformTime(int type, const char* text, long textLen, char* out);

 private:
  long GetName(bool issuer, unsigned char* out, long& len);
  long GetAlgorithm(const void* obj, unsigned char* out, long& len, t_FORMAT f);

  unsigned char m_bExtCursor = 0;
  std::unique_ptr<X509, vexa::crypto::X509Deleter> m_pX509;
  int m_bInit = 0;
};
