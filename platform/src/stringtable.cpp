#include "vexa/platform/stringtable.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace vexa {

namespace {

using Texts = std::unordered_map<UINT, std::string>;

struct ModuleTable {
  Texts english;
  Texts italian;
};

struct Registry {
  std::shared_mutex lock;  // guards tables
  std::map<std::string, ModuleTable, std::less<>> tables;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool Fill(std::span<const StringEntry> entries, Texts& out) {
  for (const auto& e : entries) {
    if (e.text == nullptr) return false;
    if (!out.emplace(e.id, e.text).second) return false;
  }
  return true;
}

}  // namespace

Language LanguageOf(std::string_view value) {
  if (value.size() >= 2 && (value[0] == 'i' || value[0] == 'I') &&
      (value[1] == 't' || value[1] == 'T')) {
    if (value.size() == 2) return Language::Italian;
    const char next = value[2];
    const bool letter = (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z');
    if (!letter) return Language::Italian;
  }
  return Language::English;
}

Language UiLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return LanguageOf(v);
  }
  return Language::English;
}

bool RegisterStringTable(std::string_view module, std::span<const StringEntry> english,
                         std::span<const StringEntry> italian) {
  try {
    if (module.empty()) return false;
    ModuleTable table;
    if (!Fill(english, table.english) || !Fill(italian, table.italian)) return false;
    Registry& r = TheRegistry();
    std::unique_lock guard(r.lock);
    r.tables.insert_or_assign(std::string(module), std::move(table));
    return true;
  } catch (...) {
    return false;
  }
}

void UnregisterStringTable(std::string_view module) {
  try {
    Registry& r = TheRegistry();
    std::unique_lock guard(r.lock);
    auto it = r.tables.find(module);
    if (it != r.tables.end()) r.tables.erase(it);
  } catch (...) {
  }
}

std::optional<std::string> LoadString(std::string_view module, UINT id, Language lang) {
  try {
    Registry& r = TheRegistry();
    std::shared_lock guard(r.lock);
    auto it = r.tables.find(module);
    if (it == r.tables.end()) return std::nullopt;
    if (lang == Language::Italian) {
      auto t = it->second.italian.find(id);
      if (t != it->second.italian.end()) return t->second;
    }
    auto t = it->second.english.find(id);
    if (t != it->second.english.end()) return t->second;
    return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> LoadString(std::string_view module, UINT id) {
  return LoadString(module, id, UiLanguage());
}

int LoadString(std::string_view module, UINT id, char* buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax < 1) return 0;
  buffer[0] = '\0';
  auto text = LoadString(module, id);
  if (!text) return 0;
  std::size_t n = text->size();
  if (n > static_cast<std::size_t>(bufferMax - 1)) {
    n = static_cast<std::size_t>(bufferMax - 1);
    // Do not cut a UTF-8 sequence in two.
    while (n > 0 && (static_cast<unsigned char>((*text)[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(buffer, text->data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace vexa
