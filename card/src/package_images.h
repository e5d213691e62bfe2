// The card code that the library loads onto cards: the key-generation package
// (4359 bytes, identifier 7) and the channel-management package (727 bytes),
// each with the 8-byte parameter block of its LOAD EXECUTABLE.
#pragma once

#include <vector>

#include "vexa/platform/wintypes.h"

namespace vexa::card {

std::vector<BYTE> GenKeyPackageImage();
std::vector<BYTE> GenKeyPackageParams();
std::vector<BYTE> ChannelPackageImage();
std::vector<BYTE> ChannelPackageParams();

}  // namespace vexa::card
