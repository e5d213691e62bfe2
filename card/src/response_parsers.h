// Parsers of card answers. Each takes the answer's data bytes as they came and
// never reads past them: an answer too short for what it must hold gives
// CARD_ERR_RESPONSE.
#pragma once

#include <span>

#include "vexa/card/access_records.h"
#include "vexa/card/card_sm.h"

namespace vexa::card {

// File size from the control information of SELECT (Le 10): byte 4 is the
// length of the size field, the size follows big-endian. Fields of 1 to 3 bytes
// are read; 4 or more give size 0.
LONG ParseFileSize(std::span<const BYTE> resp, DWORD* pdwSize);

// Package list of GET DATA 01 88: 6-byte records, identifier in the third
// byte and version in the fourth. Returns the number of records; writes at most
// capacity of them to out (out may be null).
DWORD ParsePackages(std::span<const BYTE> resp, PACKAGE* out, DWORD capacity);

// The 7-byte card identifier from GET DATA 01 81: 05 and bytes 11-16.
LONG ParseUID(std::span<const BYTE> resp, BYTE out[7]);

}  // namespace vexa::card
