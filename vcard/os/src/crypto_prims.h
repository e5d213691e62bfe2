// The cryptographic primitives of the card, over OpenSSL's libcrypto: 3DES-EDE
// (CBC with a zero IV, and single blocks), the ISO/IEC 9797-1 MAC algorithm 3,
// random bytes, and raw RSA on big-endian numbers.
#pragma once

#include <optional>
#include <span>

#include "vexa/platform/secure.h"
#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

// key: 24 bytes (K1 K2 K3) or 16 bytes (K1 K2, K3 = K1). data: a multiple of 8.
Bytes Des3CbcEncrypt(std::span<const uint8_t> key, std::span<const uint8_t> data);
Bytes Des3CbcDecrypt(std::span<const uint8_t> key, std::span<const uint8_t> data);
// MAC algorithm 3 over data already padded to a multiple of 8 (at least 8 bytes):
// single-DES CBC under K1, the last block under 3DES (K1, K2, K3).
Bytes RetailMac(std::span<const uint8_t> key, std::span<const uint8_t> data);

// ISO/IEC 9797-1 padding method 2 and its removal (nothing when malformed).
Bytes PadIso(std::span<const uint8_t> data);
std::optional<size_t> UnpadIsoLength(std::span<const uint8_t> data);
// Padding method 1: zero bytes up to a multiple of 8.
Bytes PadZero(std::span<const uint8_t> data);

Bytes RandomBytes(size_t n);

struct RsaKeyParts {
  SecureBytes n, e, d, p, q, dp, dq, qinv;
};
// Generates a key of `bits` with public exponent e (big-endian). Throws
// std::runtime_error when OpenSSL fails.
RsaKeyParts GenerateRsa(unsigned bits, std::span<const uint8_t> e);

// x^exp mod n, the result left-padded to the length of n. Nothing when x >= n
// or n is zero.
std::optional<SecureBytes> RsaModExp(std::span<const uint8_t> x, std::span<const uint8_t> exp,
                                     std::span<const uint8_t> n);
// The private operation with the CRT components; the result has `outLen` bytes.
std::optional<SecureBytes> RsaCrt(std::span<const uint8_t> x, const RsaKeyParts& k, size_t outLen);
// p * q, big-endian.
SecureBytes Multiply(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace vexa::vcard
