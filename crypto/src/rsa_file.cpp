// CRSA key files: PKCS#1 RSAPublicKey / RSAPrivateKey, unencrypted, as DER,
// base64 on one line (258) or base64 between armour lines (259).
#include <openssl/decoder.h>
#include <openssl/encoder.h>

#include <cstring>
#include <string>
#include <string_view>

#include "common.h"
#include "key_codec.h"
#include "rsa_key.h"
#include "vexa/crypto/rsa.h"

using vexa::SecureBytes;
using vexa::crypto::Guard;
using vexa::crypto::RsaKey;

long CRSA::SavePBK(char* path, long format) {
  return Guard([&]() -> long {
    if (path == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPublic()) return RSA_ERR_KEY_PART;
    SecureBytes der;
    if (!vexa::crypto::EncodeKeyDer(*m_pRSA, false, der)) return RSA_ERR_DER;
    return SaveKeyToFile(path, format, 0, der.data(), der.size());
  });
}

long CRSA::SavePVK(char* path, long format) {
  return Guard([&]() -> long {
    if (path == nullptr) return RSA_ERR_ARG;
    if (!m_pRSA || !m_pRSA->HasPrivate()) return RSA_ERR_KEY_PART;
    SecureBytes der;
    if (!vexa::crypto::EncodeKeyDer(*m_pRSA, true, der)) return RSA_ERR_DER;
    return SaveKeyToFile(path, format, 1, der.data(), der.size());
  });
}

long CRSA::SaveKeyToFile(char* path, long format, int isPrivate, const unsigned char* der,
                         unsigned long derLen) {
  return Guard([&]() -> long {
    if (path == nullptr || der == nullptr) return RSA_ERR_ARG;
    std::span<const unsigned char> body(der, derLen);
    if (format != KEY_FORMAT_BASE64 && format != KEY_FORMAT_ARMOURED)
      return vexa::crypto::WriteWholeFile(path, body) ? RSA_OK : RSA_ERR_FILE;
    // The text of a private key is a secret too: it is only ever kept in
    // wiping buffers.
    SecureBytes text;
    const SecureBytes b64 = vexa::crypto::Base64Encode(body);
    const std::string first = format == KEY_FORMAT_ARMOURED ? vexa::crypto::ArmourFirstLine(isPrivate != 0) : "";
    const std::string last = format == KEY_FORMAT_ARMOURED ? vexa::crypto::ArmourLastLine(isPrivate != 0) : "";
    text.reserve(first.size() + b64.size() + last.size());
    text.insert(text.end(), first.begin(), first.end());
    text.insert(text.end(), b64.begin(), b64.end());
    text.insert(text.end(), last.begin(), last.end());
    return vexa::crypto::WriteWholeFile(path, text) ? RSA_OK : RSA_ERR_FILE;
  });
}

long CRSA::ReadKeyFromFile(char* path, long format, int isPrivate,
                           std::vector<unsigned char>& der) {
  return Guard([&]() -> long {
    if (path == nullptr) return RSA_ERR_ARG;
    SecureBytes file;
    if (!vexa::crypto::ReadWholeFile(path, file)) return RSA_ERR_FILE;
    SecureBytes body;
    long r = vexa::crypto::UnwrapKeyFile(file, format, isPrivate != 0, body);
    if (r != RSA_OK) return r;
    der.assign(body.begin(), body.end());
    return RSA_OK;
  });
}

namespace {

// Reads a key file of either kind into this object (see InitPBK/InitPVK).
long ReadInto(CRSA& self, RsaKey& key, char* path, long format, bool isPrivate,
              long (CRSA::*reader)(char*, long, int, std::vector<unsigned char>&)) {
  std::vector<unsigned char> der;
  // The DER of a private key is wiped on every way out, also when copying it
  // runs out of memory or the reader throws.
  struct WipeOnExit {
    std::vector<unsigned char>& v;
    ~WipeOnExit() { vexa::SecureWipe(v.data(), v.size()); }
  } wipeDer{der};
  long r = (self.*reader)(path, format, isPrivate ? 1 : 0, der);
  SecureBytes body(der.begin(), der.end());
  if (r != RSA_OK) return r;
  RsaKey loaded;
  if (!vexa::crypto::DecodeKeyDer(body, isPrivate, loaded)) return RSA_ERR_DER;
  // A key file must not pair a half with a foreign other half.
  const bool otherHalf = isPrivate ? key.HasPublic() : key.HasPrivate();
  if (otherHalf && key.n() != loaded.n()) return RSA_ERR_KEY_PART;
  if (isPrivate) {
    SecureBytes e = key.e();
    const bool keepE = !e.empty() && key.n() == loaded.n();
    key = loaded;  // n, d and the parts belonging with d
    if (keepE) key.SetE(e);
  } else {
    if (key.n() != loaded.n()) key.SetN(loaded.n());
    key.SetE(loaded.e());
  }
  return RSA_OK;
}

}  // namespace

long CRSA::InitPBK(char* path, long format) {
  return Guard([&]() -> long {
    if (path == nullptr) return RSA_ERR_ARG;
    AllocRSA();
    AllocSeed();
    return ReadInto(*this, *m_pRSA, path, format, false, &CRSA::ReadKeyFromFile);
  });
}

long CRSA::InitPVK(char* path, long format) {
  return Guard([&]() -> long {
    if (path == nullptr) return RSA_ERR_ARG;
    AllocRSA();
    AllocSeed();
    return ReadInto(*this, *m_pRSA, path, format, true, &CRSA::ReadKeyFromFile);
  });
}
