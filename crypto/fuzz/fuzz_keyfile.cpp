// Key-file reader: CRSA::InitPBK / InitPVK from a file in each format, then the
// key is used and written back.
#include <cstdint>

#include "fuzz_common.h"
#include "vexa/crypto/rsa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool isPrivate = data[0] & 1;
  static const long kFormats[] = {KEY_FORMAT_DER, KEY_FORMAT_BASE64, KEY_FORMAT_ARMOURED, KEY_FORMAT_DER};
  const long format = kFormats[(data[0] >> 1) & 3];
  const std::string& path = cryptofuzz::InputPath("crypto_fuzz_keyfile");
  if (!cryptofuzz::WriteInput(path, data + 1, size - 1)) return 0;

  CRSA rsa;
  std::string p = path;
  const long r = isPrivate ? rsa.InitPVK(p.data(), format) : rsa.InitPBK(p.data(), format);
  if (r != RSA_OK) return 0;
  // Keep the arithmetic on fuzzed keys cheap: only small moduli are exercised.
  if (rsa.GetKeySize(0) <= 2048) {
    unsigned char digest[20] = {1}, out[256];
    long len = sizeof out;
    if (isPrivate)
      rsa.Sign(digest, 20, out, len, MD_TYPE_SHA1);
    else
      rsa.Encrypt(digest, 20, out, len);
  }
  std::string back = path + ".out";
  isPrivate ? rsa.SavePVK(back.data(), format) : rsa.SavePBK(back.data(), format);
  std::remove(back.c_str());
  return 0;
}
