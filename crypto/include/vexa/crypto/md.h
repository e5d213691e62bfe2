// CMD: message digests (SHA-1, MD5, RIPEMD-160, MD5+SHA-1) over memory or a file.
#pragma once

#include <string>
#include <vector>

#include "vexa/crypto/result.h"
#include "vexa/platform/export.h"

typedef struct evp_md_st EVP_MD;

class VEXA_API CMD {
 public:
  enum tTYPE {
    tSHA1 = MD_TYPE_SHA1,
    tMD5 = MD_TYPE_MD5,
    tRIPEMD160 = MD_TYPE_RIPEMD160,
    tMD5SHA1 = MD_TYPE_MD5_SHA1,
  };

  CMD();
  explicit CMD(tTYPE t);
  CMD(const CMD& other);
  CMD& operator=(const CMD& other);
  ~CMD();

  // A copy of the data becomes the source. 0 (128 when memory runs out).
  long Init(unsigned char* data, long len);
  // The file becomes the source; 129 when no file matches the path.
  long Init(char* path);
  // Digest of the source with the selected digest. len: capacity in, digest
  // length out. 0; 130 not ready or no digest selected; 132 buffer smaller than
  // the digest; 133 file cannot be opened or read.
  long CalcolateMD(unsigned char* out, unsigned int& len);
  // Selects digest t (131 when OpenSSL has none), then as above.
  long CalcolateMD(unsigned char* out, unsigned int& len, tTYPE t);
  // 256: not available.
  long GetMDtype();

  // OpenSSL's digest for t, or null.
  static const EVP_MD* New(tTYPE t);
  // Live CMD objects.
  static long m_lInstance;

 private:
  int m_bReady = 0;
  unsigned char m_bSource = 0;  // 1 memory, 2 file
  long m_lLen = 0;
  std::vector<unsigned char> m_Data;  // the data (memory source)
  std::string m_Path;                 // the path (file source)
  const EVP_MD* m_pMD = nullptr;
};
