// The master key from which every card's secure-messaging key is derived.
#pragma once

#include "vexa/platform/secure.h"

namespace vexa::card {

// The 24-byte 3DES master key (K1 K2 K3): the HKLM registry value "SMMasterKey"
// (REG_BINARY, exactly 24 bytes) when present, else the built-in default. The
// value is never traced.
SecureBytes LoadSMMasterKey();

}  // namespace vexa::card
