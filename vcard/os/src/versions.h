// The card OS versions of the family: their GET DATA 01 82 answers, answers to
// reset and the features that differ between them.
#pragma once

#include <optional>
#include <string>

#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

struct VersionInfo {
  const char* name;
  uint8_t versionByte;   // second byte of the answer C8 xx
  bool m410Forms;        // accepts the 62-templates and CHANGE KEY DATA (M4.10 and later)
  bool memoryQuery;      // answers GET DATA 01 89 (M4.20 family)
  bool m3;               // the older command set (PHASE CONTROL with CLA B0)
};

// The version of that name ("M3", "M4.0", "M4.01", "M4.01a", "M4.10", "M4.20",
// "M4.2b", "M4.2b-0A", "M4.40"), or nothing.
std::optional<VersionInfo> FindVersion(const std::string& name);

// The default answer to reset of a version; profile "" or one of "Velmoranta"
// (M4.01, M4.01a), "VEZ", "VEZ2" (M4.20). Empty when the pair is unknown.
Bytes DefaultAtr(const std::string& version, const std::string& profile);

}  // namespace vexa::vcard
