// The card types registered in the smart-card database (HKLM
// "SOFTWARE\Microsoft\Cryptography\Calais\SmartCards", one subkey per card type
// with "ATR", optionally "ATRMask", and "Crypto Provider").
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vexa/platform/wintypes.h"

namespace vexa::card {

inline constexpr const char* kCardTypesKey = "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
inline constexpr const char* kOwnProvider = "VEXA_CSP";

struct CardType {
  std::string name;
  std::vector<BYTE> atr;
  std::vector<BYTE> mask;  // empty: every bit counts
  std::string provider;
};

// The names of the subkeys directly under the card-type key, as they appear in
// the section lines of a registry text (compared without regard to ASCII case,
// each name once, in file order). Never fails: lines it cannot read are skipped.
std::vector<std::string> CardTypeNames(std::string_view regText);

// The card types in the HKLM registry (none when the file or key is missing).
std::vector<CardType> RegisteredCardTypes();

// True when the ATR has the card type's length and equals its ATR under the mask.
bool AtrMatches(const CardType& type, std::span<const BYTE> atr) noexcept;

}  // namespace vexa::card
