// PKCS#12 reader: CPKCS12::Init from a file in each format with the password
// "secret", then the key and the certificate are taken out.
#include <cstdint>

#include "fuzz_common.h"
#include "vexa/crypto/pkcs12.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const CPKCS12::tFORMATI kFormats[] = {CPKCS12::tDER, CPKCS12::tBASE64, CPKCS12::tARMOURED, CPKCS12::tDER};
  const CPKCS12::tFORMATI format = kFormats[data[0] & 3];
  const std::string& path = cryptofuzz::InputPath("crypto_fuzz_pkcs12");
  if (!cryptofuzz::WriteInput(path, data + 1, size - 1)) return 0;
  std::string p = path;
  char password[] = "secret";
  CPKCS12 p12;
  if (p12.Init(format, p.data(), (data[0] & 4) ? nullptr : password) != RSA_OK) return 0;
  CRSA rsa;
  CX509v3 cert;
  p12.GetRSA(rsa);
  p12.GetX509(cert);
  return 0;
}
