// Helpers shared by the classes of the cryptographic library: RAII owners of
// OpenSSL objects, the exception barrier of the exported methods, files and
// base64 text.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "vexa/crypto/result.h"
#include "vexa/platform/secure.h"

namespace vexa::crypto {

struct BnFree { void operator()(BIGNUM* b) const noexcept { BN_clear_free(b); } };
struct PkeyFree { void operator()(EVP_PKEY* p) const noexcept { EVP_PKEY_free(p); } };
struct PkeyCtxFree { void operator()(EVP_PKEY_CTX* p) const noexcept { EVP_PKEY_CTX_free(p); } };
struct CipherCtxFree { void operator()(EVP_CIPHER_CTX* p) const noexcept { EVP_CIPHER_CTX_free(p); } };
struct MdCtxFree { void operator()(EVP_MD_CTX* p) const noexcept { EVP_MD_CTX_free(p); } };

using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// Runs body and stops every exception at the library boundary: an exception
// can only come from memory running out, so it becomes RSA_ERR_MEMORY.
template <class F>
long Guard(F&& body, long onException = RSA_ERR_MEMORY) noexcept {
  try {
    return body();
  } catch (...) {
    return onException;
  }
}

// Makes the legacy provider (RC2-40 and other algorithms of older PKCS#12
// files) available next to the default one. Safe to call often; loads once, and
// the providers are unloaded with the library (or at process exit).
void EnsureLegacyProvider() noexcept;

// Makes RIPEMD-160 available: OpenSSL 3.0 releases before 3.0.7 keep it in
// the legacy provider only. Checks once.
void EnsureRipemd160() noexcept;

// Whole-file read into a wiping buffer (key files hold secrets). False when the
// file cannot be opened or read.
bool ReadWholeFile(const char* path, SecureBytes& out);
// Creates or truncates the file (mode 0600) and writes the bytes.
bool WriteWholeFile(const char* path, std::span<const unsigned char> data);

// Base64 (standard alphabet, "=" padding) on one line, into a wiping buffer
// (the text of a private key is as secret as the key).
SecureBytes Base64Encode(std::span<const unsigned char> data);
// Decodes base64, skipping the characters 7-13 and blanks. False on bad text.
bool Base64Decode(std::span<const unsigned char> text, SecureBytes& out);

// Big-endian bytes without leading zeros (BN_bn2bin form) of a BIGNUM.
SecureBytes BnToBytes(const BIGNUM* bn);
// Strips leading zero bytes from a big-endian integer.
SecureBytes StripZeros(std::span<const unsigned char> be);

}  // namespace vexa::crypto
