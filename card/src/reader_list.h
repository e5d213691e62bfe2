// The reader names the PC/SC service lists.
#pragma once

#include <PCSC/winscard.h>

#include <string>
#include <vector>

namespace vexa::card {

// 0 or the PC/SC error; an empty list is SCARD_E_NO_READERS_AVAILABLE.
LONG ListReaderNames(SCARDCONTEXT hContext, std::vector<std::string>& names);

}  // namespace vexa::card
