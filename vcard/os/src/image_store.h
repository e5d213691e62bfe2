// The card image file: a line-oriented text form of CardState.
//
//   vexa-vcard-image 1
//   version M4.10            card OS version name
//   versionbytes C805        answer to GET DATA 01 82
//   atr 3BF2...              answer to reset
//   lifecycle 10             life-cycle byte
//   uid ...                  answer to GET DATA 01 81
//   memorykb 64              memory size reported by the M4.20 family
//   counter 0                value of the INCREASE counter
//   masterkey ...            secure-messaging master key (24 bytes; default when absent)
//   digestinfo ...           DigestInfo prefix stored with PUT DATA 02 C2 (or -)
//   syskey id=00 value=...   system keys (16 bytes each)
//   package id=07 version=02 installed code packages
//   file path=3F00DF01 kind=df|bin|rec desc=38 size=.. name=.. ac=.. sm=.. data=..
//   record path=.. data=..   one line per record, in order
//   pin df=.. ref=10 class=00 opt=.. ac=.. sm=.. value=.. max=3 left=3 unblock=12 grants=03
//   key df=.. ref=01 algo=12 opt=.. ac=.. sm=.. size=128 pubexp=..
//   comp df=.. ref=01 class=20 loaded=1 value=..
//
// Paths are the file identifiers from the MF, concatenated in hexadecimal; a
// file's parent appears before it. Unknown keywords are refused.
#pragma once

#include <string>

#include "model.h"

namespace vexa::vcard {

std::string SerializeImage(const CardState& state);
// Throws std::runtime_error naming the line for malformed text.
CardState ParseImage(const std::string& text);

// Reads and parses the image file (std::runtime_error when missing or malformed).
CardState LoadImageFile(const std::string& path);
// Writes the image next to path under a temporary name (mode 0600) and renames
// it over path, so a reader sees the old or the new image, never a
// half-written one. Throws std::runtime_error on failure (path is then untouched).
void SaveImageFile(const std::string& path, const CardState& state);

}  // namespace vexa::vcard
