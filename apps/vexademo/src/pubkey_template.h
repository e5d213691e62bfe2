// The public key that GENERATE KEY PAIR leaves in a transparent EF:
//   7F 49 L { 81 L modulus, 82 L exponent }, zero-filled behind it.
// Lengths are BER definite forms (one byte below 80, or 81 xx, or 82 xx xx).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vexademo {

struct RsaPublicKey {
  std::vector<uint8_t> modulus;   // big-endian, leading zero bytes removed
  std::vector<uint8_t> exponent;  // big-endian, leading zero bytes removed
};

struct TemplateResult {
  std::optional<RsaPublicKey> key;  // set on success
  std::string error;                // why the bytes are no public key, else empty
};

// Reads the template from the start of the file contents. Never reads past
// data; a truncated, malformed or empty key gives an error, not a key.
TemplateResult ParsePublicKeyTemplate(std::span<const uint8_t> data);

// How many file bytes hold a template for a modulus of modulusBytes (the read
// size: header, modulus, a 4-byte exponent).
std::size_t PublicKeyTemplateSize(std::size_t modulusBytes);

}  // namespace vexademo
