#include "ui/dialog_language.h"

#include <array>
#include <initializer_list>

#include "platform/system.h"

namespace OvVBiosInstaller {

namespace {

struct LanguageRow {
  DialogLanguage language;
  std::string_view name;
  std::initializer_list<uint32_t> lcids;  // the first one represents the language
};

// clang-format off
const std::array<LanguageRow, kDialogLanguageCount> kLanguages{{
    {DialogLanguage::English, "English", {0x0409}},
    {DialogLanguage::SimplifiedChinese, "Simplified Chinese", {0x0804}},
    {DialogLanguage::TraditionalChinese, "Traditional Chinese", {0x0404, 0x0C04}},
    {DialogLanguage::Czech, "Czech", {0x0405}},
    {DialogLanguage::German, "German", {0x0407, 0x0807, 0x0C07, 0x1007, 0x1407}},
    {DialogLanguage::Spanish, "Spanish", {0x040A, 0x080A, 0x100A, 0x140A, 0x180A, 0x1C0A, 0x200A, 0x240A, 0x280A,
                                          0x2C0A, 0x300A, 0x340A, 0x380A, 0x3C0A, 0x400A, 0x440A, 0x480A, 0x4C0A,
                                          0x500A}},
    {DialogLanguage::Finnish, "Finnish", {0x040B}},
    {DialogLanguage::French, "French", {0x040C, 0x080C, 0x0C0C, 0x100C, 0x140C}},
    {DialogLanguage::Italian, "Italian", {0x0410, 0x0810}},
    {DialogLanguage::Japanese, "Japanese", {0x0411}},
    {DialogLanguage::Korean, "Korean", {0x0412, 0x0812}},
    {DialogLanguage::Dutch, "Dutch", {0x0413, 0x0813}},
    {DialogLanguage::Norwegian, "Norwegian", {0x0414, 0x0814}},
    {DialogLanguage::Portuguese, "Portuguese", {0x0416, 0x0816}},
    {DialogLanguage::Russian, "Russian", {0x0419, 0x0819}},
    {DialogLanguage::Swedish, "Swedish", {0x041D, 0x081D}},
    {DialogLanguage::Turkish, "Turkish", {0x041F}},
}};
// clang-format on

const LanguageRow& rowOf(DialogLanguage language) {
  const size_t index = languageIndex(language);
  return kLanguages[index < kLanguages.size() ? index : 0];
}

}  // namespace

DialogLanguage dialogLanguageFor(uint32_t lcid) {
  // English is the fallback, not a list: skip its row.
  for (size_t i = 1; i < kLanguages.size(); ++i) {
    for (uint32_t listed : kLanguages[i].lcids) {
      if (listed == lcid) return kLanguages[i].language;
    }
  }
  return DialogLanguage::English;
}

DialogLanguage currentDialogLanguage() { return dialogLanguageFor(platform::userLcid()); }

std::string_view languageName(DialogLanguage language) { return rowOf(language).name; }

uint32_t representativeLcid(DialogLanguage language) { return *rowOf(language).lcids.begin(); }

}  // namespace OvVBiosInstaller
