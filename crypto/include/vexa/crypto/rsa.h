// CRSA: an RSA key pair with PKCS#1 v1.5 operations and key import/export.
//
// Byte strings that carry key parts are unsigned big-endian integers without
// leading zero bytes; a modulus of k bytes is always written as k bytes.
// Results are RSA_OK (0) or one of the codes in vexa/crypto/result.h.
//
// Other libraries call the virtual operations through the object's table, so the
// order of the virtual declarations below is part of the interface between
// libraries: never reorder, insert or remove one. The destructor is not virtual.
#pragma once

#include <memory>
#include <vector>

#include "vexa/crypto/result.h"
#include "vexa/platform/export.h"

namespace vexa::crypto {
class RsaKey;  // the key parts and the OpenSSL objects built from them
}

class VEXA_API CRSA {
 public:
  CRSA();
  CRSA(const CRSA& other);
  ~CRSA();
  CRSA& operator=(const CRSA& other);

  // ---- virtual operations, in slot order ----

  // Public-key recovery. padding: 1 PKCS#1 block type 1, 3 none. *outLen: capacity
  // in (at least key size - 11 for padding 1, key size for padding 3), data length
  // out. 0, 129, 131, 134.
  virtual long RawVerify(unsigned char* in, unsigned long inLen, unsigned char* out,
                         unsigned long* outLen, int padding);
  // Private-key operation. padding 1 or 3; *outLen: capacity in (at least the key
  // size), result length out. 0, 129, 131, 133.
  virtual long RawSign(unsigned char* in, unsigned long inLen, unsigned char* out,
                       unsigned long* outLen, int padding);
  // Sets n and e from bytes; a null pointer leaves that part unchanged. 0.
  virtual long InitPBK(unsigned char* mod, long modLen, unsigned char* exp, long expLen);
  // Reads a public-key file (format: 258 base64, 259 armoured, other DER).
  // 0, 130 (modulus differs from the private key held), 137, 144, 260.
  virtual long InitPBK(char* path, long format);
  // Sets n and d from bytes; a null pointer leaves that part unchanged. 0.
  virtual long InitPVK(unsigned char* mod, long modLen, unsigned char* d, long dLen);
  // Reads a private-key file. 0, 130, 137, 144, 260.
  virtual long InitPVK(char* path, long format);
  // InitPVK(mod, d) then InitPBK(mod, e); the two results OR-ed.
  virtual long InitKeys(unsigned char* mod, long modLen, unsigned char* d, long dLen,
                        unsigned char* e, long eLen);
  // Copies n, d and e of an OpenSSL EVP_PKEY holding an RSA key. 0, 129, 131.
  virtual long InitKeysFromEVPKEY(void* pkey);
  // Modulus and private exponent to memory. For each buffer: *p null, or its
  // capacity (len in) too small: the library allocates a new one (new[], zero
  // filled; a too small caller buffer is deleted with delete[]). On return the
  // lengths are the byte counts. The caller owns the buffers. 0 or 130.
  virtual long SavePVK(unsigned char** mod, unsigned long& modLen, unsigned char** d,
                       unsigned long& dLen);
  // Writes a private-key file (PKCS#1 RSAPrivateKey). 0, 130, 137, 144.
  virtual long SavePVK(char* path, long format);
  // Modulus (key size bytes) and public exponent to memory, as SavePVK. 0 or 130.
  virtual long SavePBK(unsigned char** mod, unsigned long& modLen, unsigned char** e,
                       unsigned long& eLen);
  // Writes a public-key file (PKCS#1 RSAPublicKey). 0, 130, 137, 144.
  virtual long SavePBK(char* path, long format);
  // PKCS#1 v1.5 decryption with the private key. outLen: capacity in (at least the
  // key size), data length out. 0, 129, 131, 134.
  virtual long Decrypt(unsigned char* in, long inLen, unsigned char* out, long& outLen);
  // PKCS#1 v1.5 encryption with the public key. outLen: capacity in (at least the
  // key size), key size out. 0, 129, 131, 132 (input longer than size - 11), 133.
  virtual long Encrypt(unsigned char* in, long inLen, unsigned char* out, long& outLen);
  // Public-key recovery with PKCS#1 block type 1. *outLen: capacity in, data
  // length out. 0, 129, 131, 136.
  virtual long PublicDecrypt(unsigned char* in, long inLen, unsigned char* out, long* outLen);
  // PKCS#1 v1.5 signature of a digest value with the DigestInfo of mdType
  // (1 SHA-1, 2 MD5, 3 RIPEMD-160; 4: 36 bytes MD5+SHA-1 signed as they are).
  // outLen: capacity in (at least the key size), signature length out.
  // 0, 129, 131, 135.
  virtual long Sign(unsigned char* in, long inLen, unsigned char* out, long& outLen,
                    int mdType);
  // mdType > 0: data is the digest, checked against the signature block.
  // mdType <= 0: raw mode, signatureLen must be the key size; the block is
  // recovered (-1: PKCS#1 padding, other: none) and its first dataLen bytes are
  // compared with data. 0, 129, 131, 136.
  virtual long Verify(unsigned char* signature, long signatureLen, unsigned char* data,
                      long dataLen, int mdType);
  // Key size in bytes (inBytes non-zero) or bits; 256 when there is no key.
  virtual long GetKeySize(int inBytes);
  // Gives an empty OpenSSL EVP_PKEY the object's key as an RSA key. 0 or 146.
  virtual long GetEVP_PKEY(void* pkey);
  // Non-zero when n and d are present.
  virtual long IsPvkKey();
  // Non-zero when n and e are present.
  virtual long IsPbkKey();
  // New key pair of bits bits with public exponent e (65537 when 0).
  // The CheckKeys result (0 for a good key) or 129.
  virtual long GenKeys(int bits, unsigned long e);

 private:
  // Creates the key object when absent. 0.
  virtual long AllocRSA();
  // Creates the 256-byte seed buffer when absent and feeds it to the generator. 0.
  virtual long AllocSeed();

 protected:
  // Encodes the DER of a key to a file in the given format. 0, 137.
  virtual long SaveKeyToFile(char* path, long format, int isPrivate,
                             const unsigned char* der, unsigned long derLen);
  // Reads a key file and returns its DER in der. 0, 137, 260.
  virtual long ReadKeyFromFile(char* path, long format, int isPrivate,
                               std::vector<unsigned char>& der);
  // 0 when the key pair is consistent; 130 when rejected; 256 when a part is
  // missing or the check fails.
  virtual long CheckKeys();

 public:
  // ---- non-virtual ----

  // OpenSSL 3 keeps RSA keys in EVP_PKEY objects: an OpenSSL RSA object cannot
  // be read without the deprecated low-level interface, so this returns 131
  // (use InitKeysFromEVPKEY). 129 for a null pointer.
  long InitKeysFromRSA(void* rsa);
  unsigned long Get_SessionHandle() const { return m_hSession; }

  // The library's own access to the key (used by CPKCS12 and CX509v3).
  vexa::crypto::RsaKey* Key() const { return m_pRSA.get(); }

 private:
  void RSAFree();
  // Digest type code to OpenSSL NID (64, 4, 117, 114), 0 for others.
  static int GetOpenSSL_NID(int mdType);

  std::unique_ptr<vexa::crypto::RsaKey> m_pRSA;
  unsigned long m_hSession = 0;
  std::vector<unsigned char> m_pbSeed;
};
