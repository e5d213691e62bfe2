// Key-file bodies: the PKCS#1 DER of an RSA key, and the text forms around it.
#pragma once

#include <string>

#include "common.h"
#include "rsa_key.h"

namespace vexa::crypto {

// PKCS#1 RSAPublicKey (n, e) or RSAPrivateKey of the key. A private key whose
// CRT parts are unknown is written with those parts (and a missing public
// exponent) as zero, which this library reads back as absent.
bool EncodeKeyDer(RsaKey& key, bool isPrivate, SecureBytes& der);
// Decodes one of the two structures into a fresh key: n and e for a public key;
// n, d and the parts belonging with d (not a visible e) for a private key.
bool DecodeKeyDer(const SecureBytes& der, bool isPrivate, RsaKey& key);

std::string ArmourFirstLine(bool isPrivate);
std::string ArmourLastLine(bool isPrivate);

// The DER inside a key file of the given format (258 base64, 259 armoured with
// the lines of the kind asked for, other: the file is the DER).
// 0, 137 bad base64, 260 armour lines do not match.
long UnwrapKeyFile(const SecureBytes& file, long format, bool isPrivate, SecureBytes& der);
// As UnwrapKeyFile for a file whose armour lines carry any type word
// ("-----BEGIN <anything>-----" ... "-----END <anything>-----").
long UnwrapAnyArmour(const SecureBytes& file, long format, SecureBytes& der);

}  // namespace vexa::crypto
