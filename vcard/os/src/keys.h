// Key objects and the cryptographic commands: key creation from the OCI
// templates, key loads (CHANGE KEY DATA, CHANGE REFERENCE DATA), GENERATE KEY
// PAIR, MANAGE SECURITY ENVIRONMENT, PERFORM SECURITY OPERATION (signature,
// decipher, encipher), the card's own signature command and PUT DATA 02 C2.
//
// RSA key objects hold their components by class: 20 modulus and 21 private
// exponent, or, when classes 22 to 24 are loaded, the CRT form 20 p, 21 q,
// 22 d mod (p-1), 23 d mod (q-1), 24 q^-1 mod p. A component sent with the
// two-byte header (length + 1, 00) is stored without it; loading class 20 or
// 21 puts the key back into the modulus/exponent form. GENERATE KEY PAIR keeps
// the generated key in the CRT form. 3DES key objects
// (algorithm 03) hold the key in class 20 (16 or 24 bytes, more are ignored).
#pragma once

#include "context.h"

namespace vexa::vcard {

constexpr uint8_t kAlgo3Des = 0x03;

// Finds a key object by reference in the current DF, then in its parents;
// `where` receives the DF path.
KeyObject* FindKey(Context& ctx, uint8_t ref, Path* where = nullptr);

// Creates or extends a key object from a creation template (class 20 creates,
// 21..24 add components). Throws CardStatus.
void CreateKeyObject(Context& ctx, uint8_t objClass, uint8_t ref, const Bytes& options, const Bytes& ac,
                     const Bytes& sm, const Bytes* value);

// CHANGE KEY DATA (90 24 class ref) and CHANGE REFERENCE DATA for keys.
Bytes LoadKeyComponent(Context& ctx, uint8_t objClass, uint8_t ref, const Bytes& data);

Bytes CmdGenerateKeyPair(Context& ctx, const Command& c);
Bytes CmdMse(Context& ctx, const Command& c);
Bytes CmdPso(Context& ctx, const Command& c);
Bytes CmdCardSignature(Context& ctx, const Command& c);  // 80 24 00 00
Bytes CmdPutDataDigestInfo(Context& ctx, const Command& c);

}  // namespace vexa::vcard
