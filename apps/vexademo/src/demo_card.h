// The card work of the demo, through the card access library on the engine's
// own session with the token: select the application, verify the user PIN
// under secure messaging (a wrong one first), generate an RSA key pair on the
// card, sign a SHA-256 DigestInfo with PSO COMPUTE DIGITAL SIGNATURE and read
// the public key back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pubkey_template.h"
#include "vexa/platform/secure.h"
#include "vexa/platform/wintypes.h"

namespace vexademo {

struct CardJob {
  DWORD slot = 0;                 // slot handle of an open token
  vexa::SecureBytes pin;          // the user PIN
  BYTE pinRef = 0x10;             // its reference
  BYTE keyRef = 0x03;             // key object; its key DF is 00 keyRef
  DWORD modulusBytes = 256;       // RSA-2048
  std::vector<uint8_t> message;   // what is signed (its SHA-256)
};

struct CardResult {
  bool ok = false;
  std::string error;              // what failed, with the card's answer
  RsaPublicKey publicKey;
  std::vector<uint8_t> signature;
};

CardResult RunCardJob(const CardJob& job);

}  // namespace vexademo
