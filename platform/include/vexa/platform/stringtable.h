// String tables: each module registers its own texts by id, in English and in
// Italian; lookups pick the user's language and fall back to English.
// The language comes from the first of LC_ALL, LC_MESSAGES, LANG that is set
// and not empty: a value starting with "it" ("it", "it_IT.UTF-8", "it_CH", ...)
// selects Italian, anything else English. Texts are UTF-8.
// All functions may be called from any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vexa/platform/wintypes.h"

namespace vexa {

enum class Language { English, Italian };

struct StringEntry {
  UINT id;
  const char* text;
};

// The user's language, read from the environment at each call.
Language UiLanguage();
// The language that a locale value such as "it_IT.UTF-8" names.
Language LanguageOf(std::string_view localeValue);

// Registers (or replaces) the table of module. The texts are copied. false,
// and nothing registered, when module is empty, a text is null, or an id is
// listed twice in one language.
bool RegisterStringTable(std::string_view module, std::span<const StringEntry> english,
                         std::span<const StringEntry> italian);
// Removes the table of module (nothing happens when there is none).
void UnregisterStringTable(std::string_view module);

// The text of id in module's table, in the user's language (or lang); the
// English text when that language has none; nullopt when neither has it.
std::optional<std::string> LoadString(std::string_view module, UINT id);
std::optional<std::string> LoadString(std::string_view module, UINT id, Language lang);

// As LoadString, into buffer (bufferMax bytes, NUL-terminated, cut at a
// character boundary when it does not fit). The number of bytes copied without
// the NUL; 0 when the id is absent, buffer is null or bufferMax < 1.
int LoadString(std::string_view module, UINT id, char* buffer, int bufferMax);

}  // namespace vexa
