// Key material built into the library for the administration commands that
// take no keys of their own: the erase key pair (system key 01) of
// cmdERASE_FILE(), and the format key pair (system key 00) that protects the
// built-in field of cmdFORMAT() and is the current key pair of the
// three-argument cmdCHANGE_KEY. Like the master key, the values are kept split
// and assembled only when used.
#pragma once

#include "vexa/platform/secure.h"

namespace vexa::card {

enum class BuiltInPair { kErase, kFormat };

// 16 bytes: key 1, then key 2.
SecureBytes BuiltInKeyPair(BuiltInPair which);

}  // namespace vexa::card
