// DES key helpers of C3Des_Mac: parity, the weak-key list and the pass-string
// derivation (the algorithm of OpenSSL's DES_string_to_key, which OpenSSL 3
// keeps only in its deprecated interface).
#pragma once

namespace vexa::crypto {

// Sets each of the 8 bytes to odd parity (the low bit is the parity bit).
void SetOddParity(unsigned char* key);
// True for the 4 weak and 12 semi-weak DES keys (odd-parity form).
bool IsWeakKey(const unsigned char* key);
// Derives an odd-parity 8-byte key from a NUL-terminated string.
void StringToKey(const char* s, unsigned char* key);

}  // namespace vexa::crypto
