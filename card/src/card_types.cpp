#include "card_types.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vexa/platform/registry.h"

namespace vexa::card {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto low = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return low(x) == low(y);
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string ReadTextValue(const std::string& key, const char* name) {
  std::vector<BYTE> data;
  if (RegReadValue(HKEY_LOCAL_MACHINE, key.c_str(), name, data) != 0) return {};
  std::string s(data.begin(), data.end());
  s.resize(strnlen(s.c_str(), s.size()));
  return s;
}

std::vector<BYTE> ReadBinaryValue(const std::string& key, const char* name) {
  std::vector<BYTE> data;
  if (RegReadValue(HKEY_LOCAL_MACHINE, key.c_str(), name, data) != 0) data.clear();
  return data;
}

}  // namespace

std::vector<std::string> CardTypeNames(std::string_view regText) {
  const std::string prefix = std::string("HKEY_LOCAL_MACHINE\\") + kCardTypesKey + "\\";
  std::vector<std::string> names;
  while (!regText.empty()) {
    const std::size_t eol = regText.find('\n');
    std::string_view line = Trim(regText.substr(0, eol));
    regText = eol == std::string_view::npos ? std::string_view{} : regText.substr(eol + 1);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
    line = line.substr(1, line.size() - 2);
    if (line.size() <= prefix.size() || !EqualsNoCase(line.substr(0, prefix.size()), prefix)) continue;
    const std::string_view name = line.substr(prefix.size());
    if (name.find('\\') != std::string_view::npos) continue;  // a deeper key
    const bool known = std::any_of(names.begin(), names.end(),
                                   [&](const std::string& n) { return EqualsNoCase(n, name); });
    if (!known) names.emplace_back(name);
  }
  return names;
}

std::vector<CardType> RegisteredCardTypes() {
  std::vector<CardType> types;
  std::ifstream in(vexa::RegistryFilePath(HKEY_LOCAL_MACHINE), std::ios::binary);
  if (!in) return types;
  std::ostringstream text;
  text << in.rdbuf();
  for (const std::string& name : CardTypeNames(text.str())) {
    const std::string key = std::string(kCardTypesKey) + "\\" + name;
    CardType t;
    t.name = name;
    t.atr = ReadBinaryValue(key, "ATR");
    t.mask = ReadBinaryValue(key, "ATRMask");
    t.provider = ReadTextValue(key, "Crypto Provider");
    if (!t.atr.empty()) types.push_back(std::move(t));
  }
  return types;
}

bool AtrMatches(const CardType& type, std::span<const BYTE> atr) noexcept {
  if (type.atr.empty() || atr.size() != type.atr.size()) return false;
  const bool masked = type.mask.size() == type.atr.size();
  for (std::size_t i = 0; i < atr.size(); ++i) {
    const BYTE m = masked ? type.mask[i] : BYTE{0xFF};
    if ((atr[i] & m) != (type.atr[i] & m)) return false;
  }
  return true;
}

}  // namespace vexa::card
