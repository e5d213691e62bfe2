// Structure checks of the directory's lists, shared by the directory parser.
#pragma once

#include "composite.h"

namespace vexa_asn1_detail {
// Checks that an element is an object list (tag 0x30; AID, path and SET each
// optional and well formed) without copying it.
DWORD ValidateObjectList(Bytes element) noexcept;
}  // namespace vexa_asn1_detail
