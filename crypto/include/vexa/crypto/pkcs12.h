// CPKCS12: reads a PKCS#12 file into a CRSA (the private key) and a CX509v3
// (the certificate). Files written with current encryption (AES, PBKDF2) and
// with the legacy one of older tools (RC2-40 / 3DES) both open.
#pragma once


#include "vexa/crypto/result.h"
#include "vexa/crypto/rsa.h"
#include "vexa/crypto/x509v3.h"
#include "vexa/platform/export.h"

class VEXA_API CPKCS12 {
 public:
  enum tFORMATI {
    tDER = KEY_FORMAT_DER,            // any code other than 258/259: DER
    tBASE64 = KEY_FORMAT_BASE64,      // the DER as base64 text
    tARMOURED = KEY_FORMAT_ARMOURED,  // base64 between "-----BEGIN ...-----" lines
  };

  CPKCS12();
  virtual ~CPKCS12();
  CPKCS12(const CPKCS12&) = delete;
  CPKCS12& operator=(const CPKCS12&) = delete;

  // Reads and parses the file with the password (null: no password).
  // 0; 137 unreadable file or bad base64; 260 armour lines missing; 1 the file
  // does not parse, the password is wrong or the key is not RSA.
  long Init(tFORMATI f, char* path, char* password);
  // Copy of the key. 0; 146 when there is none.
  long GetRSA(CRSA& rsa);
  // Copy of the certificate. 0; 147 when there is none.
  long GetX509(CX509v3& cert);

  // Key and certificate for WriteP12ToFile.
  long SetRSA(CRSA rsa);
  long SetX509(CX509v3 cert);
  // Writes the key and certificate set above (or read by Init) as a PKCS#12 file
  // (DER) protected with password, the bag named friendlyName (may be null).
  // 0; 130 no key; 147 no certificate; 1 OpenSSL refused; 137 write failed.
  long WriteP12ToFile(char* path, char* password, char* friendlyName);

 private:
  int m_bInit = 0;
  // The key and certificate held, each with its presence flag.
  CRSA m_RSA;
  CX509v3 m_X509;
  int m_bHasRSA = 0;
  int m_bHasX509 = 0;
};
