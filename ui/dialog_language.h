// The language of every dialog text, picked from the user's culture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace OvVBiosInstaller {

// In the order of every text table's rows.
enum class DialogLanguage {
  English,
  SimplifiedChinese,
  TraditionalChinese,
  Czech,
  German,
  Spanish,
  Finnish,
  French,
  Italian,
  Japanese,
  Korean,
  Dutch,
  Norwegian,
  Portuguese,
  Russian,
  Swedish,
  Turkish,
};

inline constexpr size_t kDialogLanguageCount = 17;

// The language of a culture's LCID. Only the cultures the dialogs were
// translated for are listed; every other LCID is English, even one of a
// listed language (3082, Spanish with the modern sort order, is English).
DialogLanguage dialogLanguageFor(uint32_t lcid);

// The language of the user's culture now: read afresh at each call, never
// kept, so each dialog follows the culture as it is when it needs a text.
DialogLanguage currentDialogLanguage();

// "German", "Simplified Chinese", ...
std::string_view languageName(DialogLanguage language);

// One LCID that selects the language (its first in the table; 1033 for
// English), for rendering a dialog in a chosen language.
uint32_t representativeLcid(DialogLanguage language);

inline constexpr size_t languageIndex(DialogLanguage language) { return static_cast<size_t>(language); }

// A per-language table holds one row per language, in the enumeration's
// order, so a row is found by index; each table checks this when compiled.
template <typename Row>
constexpr bool inLanguageOrder(const std::array<Row, kDialogLanguageCount>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    if (languageIndex(rows[i].language) != i) return false;
  }
  return true;
}

template <typename Row>
constexpr const Row& rowFor(const std::array<Row, kDialogLanguageCount>& rows, DialogLanguage language) {
  const size_t index = languageIndex(language);
  return rows[index < rows.size() ? index : 0];
}

}  // namespace OvVBiosInstaller
