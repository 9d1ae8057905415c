// The dialogs' languages and words: which culture speaks which language, the
// seventeen rows of every text table, and the support pages' addresses.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/shell.h"
#include "platform/unicode_text.h"
#include "ui/dialog_language.h"
#include "ui/dialog_text.h"
#include "ui/support_site.h"

namespace {

using OvVBiosInstaller::DialogLanguage;
using OvVBiosInstaller::dialogLanguageFor;
using OvVBiosInstaller::kDialogLanguageCount;
using OvVBiosInstaller::languageName;
using OvVBiosInstaller::SupportPage;
using OvVBiosInstaller::supportPageAddress;
namespace text = OvVBiosInstaller::text;

std::vector<DialogLanguage> allLanguages() {
  std::vector<DialogLanguage> languages;
  for (size_t i = 0; i < kDialogLanguageCount; ++i) languages.push_back(static_cast<DialogLanguage>(i));
  return languages;
}

// --- Language of a culture ---------------------------------------------------

TEST(DialogLanguage, CulturesOfTheTableAndTheirNearMisses) {
  struct Case {
    uint32_t lcid;
    DialogLanguage language;
  };
  const Case cases[] = {
      {1033, DialogLanguage::English},
      {2057, DialogLanguage::English},
      // Listed nowhere although their language is: English.
      {3082, DialogLanguage::English},  // Spanish, modern sort
      {4100, DialogLanguage::English},  // Chinese, Singapore
      {5124, DialogLanguage::English},  // Chinese, Macao
      {0, DialogLanguage::English},
      {0x7F, DialogLanguage::English},  // invariant
      {static_cast<uint32_t>(-1), DialogLanguage::English},
      {0x10407, DialogLanguage::English},  // German with phone-book sort: another identifier
      {1028, DialogLanguage::TraditionalChinese},
      {3076, DialogLanguage::TraditionalChinese},
      {2052, DialogLanguage::SimplifiedChinese},
      {1029, DialogLanguage::Czech},
      {1031, DialogLanguage::German},
      {5127, DialogLanguage::German},
      {1034, DialogLanguage::Spanish},
      {20490, DialogLanguage::Spanish},
      {1035, DialogLanguage::Finnish},
      {5132, DialogLanguage::French},
      {2064, DialogLanguage::Italian},
      {1041, DialogLanguage::Japanese},
      {2066, DialogLanguage::Korean},
      {2067, DialogLanguage::Dutch},
      {2068, DialogLanguage::Norwegian},
      {2070, DialogLanguage::Portuguese},
      {2073, DialogLanguage::Russian},
      {2077, DialogLanguage::Swedish},
      {1055, DialogLanguage::Turkish},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(languageName(dialogLanguageFor(c.lcid)), languageName(c.language)) << c.lcid;
  }
}

TEST(DialogLanguage, ExactlyFiftyCulturesAreTranslatedAndEachLanguageHasOne) {
  std::array<int, kDialogLanguageCount> perLanguage{};
  for (uint32_t lcid = 0; lcid <= 0x1FFFF; ++lcid) {
    ++perLanguage[OvVBiosInstaller::languageIndex(dialogLanguageFor(lcid))];
  }
  const std::array<int, kDialogLanguageCount> expected{
      0x20000 - 50, 1, 2, 1, 5, 19, 1, 5, 2, 1, 2, 2, 2, 2, 2, 2, 1,
  };
  EXPECT_EQ(perLanguage, expected);
  std::set<std::string_view> names;
  for (DialogLanguage language : allLanguages()) {
    EXPECT_EQ(dialogLanguageFor(OvVBiosInstaller::representativeLcid(language)), language)
        << languageName(language);
    names.insert(languageName(language));
  }
  EXPECT_EQ(names.size(), kDialogLanguageCount);
}

// --- The text tables ---------------------------------------------------------

struct Column {
  const char* name;
  std::string_view (*of)(DialogLanguage);
  bool distinct;  // each language words it its own way
};

// Simplified and Traditional Chinese write these two the same way.
bool sharedByTheChineseScripts(const char* column) {
  return std::string_view(column) == "BiosCheckForm.firstPiece" ||
         std::string_view(column) == "RestartForm.completedMessage";
}

const Column kColumns[] = {
    {"RestartForm.restartMessage", [](DialogLanguage l) { return text::restartFormText(l).restartMessage; },
     true},
    {"RestartForm.yes", [](DialogLanguage l) { return text::restartFormText(l).yes; }, false},
    {"RestartForm.no", [](DialogLanguage l) { return text::restartFormText(l).no; }, false},
    {"RestartForm.completedMessage",
     [](DialogLanguage l) { return text::restartFormText(l).completedMessage; }, true},
    {"RestartForm.ok", [](DialogLanguage l) { return text::restartFormText(l).ok; }, false},
    {"SupportSiteForm.message", [](DialogLanguage l) { return text::supportSiteFormText(l).message; }, true},
    {"SupportSiteForm.ok", [](DialogLanguage l) { return text::supportSiteFormText(l).ok; }, false},
    {"PowerModeForm.message", [](DialogLanguage l) { return text::powerModeFormText(l).message; }, true},
    {"PowerModeForm.retry", [](DialogLanguage l) { return text::powerModeFormText(l).retry; }, true},
    {"PowerModeForm.cancel", [](DialogLanguage l) { return text::powerModeFormText(l).cancel; }, false},
    {"BiosCheckForm.firstPiece", [](DialogLanguage l) { return text::biosCheckFormText(l).firstPiece; },
     true},
    {"BiosCheckForm.secondPiece", [](DialogLanguage l) { return text::biosCheckFormText(l).secondPiece; },
     true},
    {"BiosCheckForm.ok", [](DialogLanguage l) { return text::biosCheckFormText(l).ok; }, false},
    {"InstallFail.failure", [](DialogLanguage l) { return text::installFailText(l).failure; }, true},
    {"InstallFail.connectionFirstPiece",
     [](DialogLanguage l) { return text::installFailText(l).connectionFirstPiece; }, true},
    {"InstallFail.connectionSecondPiece",
     [](DialogLanguage l) { return text::installFailText(l).connectionSecondPiece; }, true},
    {"InstallFail.ok", [](DialogLanguage l) { return text::installFailText(l).ok; }, false},
    {"InstallingForm.message", [](DialogLanguage l) { return text::installingFormText(l).message; }, true},
    {"InstallingForm.shutdownBlockReason",
     [](DialogLanguage l) { return text::installingFormText(l).shutdownBlockReason; }, true},
};

TEST(DialogText, EveryLanguageHasEveryTextAsValidUtf8AndMessagesDiffer) {
  for (const Column& column : kColumns) {
    SCOPED_TRACE(column.name);
    std::set<std::string_view> seen;
    for (DialogLanguage language : allLanguages()) {
      const std::string_view words = column.of(language);
      EXPECT_FALSE(words.empty()) << languageName(language);
      EXPECT_EQ(platform::decodeText(words), words) << languageName(language) << ": not UTF-8";
      // A line break is one LF; a backslash or CR means a mis-escaped text.
      EXPECT_EQ(words.find_first_of("\\\r\t"), std::string_view::npos) << languageName(language);
      const bool fresh = seen.insert(words).second;
      if (column.distinct &&
          !(sharedByTheChineseScripts(column.name) && language == DialogLanguage::TraditionalChinese)) {
        EXPECT_TRUE(fresh) << languageName(language) << " repeats another language's text";
      }
    }
  }
}

TEST(DialogText, EachDialogsButtonsDifferInEveryLanguage) {
  for (DialogLanguage language : allLanguages()) {
    SCOPED_TRACE(languageName(language));
    EXPECT_NE(text::restartFormText(language).yes, text::restartFormText(language).no);
    EXPECT_NE(text::powerModeFormText(language).retry, text::powerModeFormText(language).cancel);
    // The shutdown reason is the first line of the progress message.
    const std::string_view message = text::installingFormText(language).message;
    EXPECT_EQ(message.substr(0, message.find('\n')), text::installingFormText(language).shutdownBlockReason);
  }
}

TEST(DialogText, WordsThatAreEasilyMistyped) {
  const auto ru = DialogLanguage::Russian;
  // Cyrillic O and K, not Latin letters.
  for (std::string_view ok : {text::installFailText(ru).ok, text::supportSiteFormText(ru).ok,
                              text::biosCheckFormText(ru).ok, text::restartFormText(ru).ok}) {
    EXPECT_EQ(ok, "\xD0\x9E\xD0\x9A");
  }
  EXPECT_EQ(text::restartFormText(DialogLanguage::Czech).yes, "Ano");
  EXPECT_EQ(text::restartFormText(DialogLanguage::Czech).no, "OK");
  EXPECT_EQ(text::restartFormText(DialogLanguage::Spanish).ok, "Aceptar");
  EXPECT_EQ(text::restartFormText(DialogLanguage::Turkish).ok, "Tamam");
  // The Italian apostrophe is the curly U+2019.
  EXPECT_NE(text::installFailText(DialogLanguage::Italian)
                .failure.find("l\xE2\x80\x99"
                              "aggiornamento"),
            std::string_view::npos);
  EXPECT_NE(text::biosCheckFormText(DialogLanguage::Finnish).secondPiece.find("lataa  \"BIOS"),
            std::string_view::npos)
      << "two blanks, as written";
}

TEST(DialogText, FailureTextsEndWithTheirOwnSeparatorBeforeTheCode) {
  for (DialogLanguage language : allLanguages()) {
    const std::string_view failure = text::installFailText(language).failure;
    const bool blank = language == DialogLanguage::English || language == DialogLanguage::German ||
                       language == DialogLanguage::French;
    EXPECT_EQ(failure.back() == ' ', blank) << languageName(language);
    EXPECT_EQ(failure.substr(0, 2), "\n\n") << languageName(language);
  }
}

TEST(DialogText, VersionFollowsCapitalVSmallVInJapaneseAndABlankInDutch) {
  for (DialogLanguage language : allLanguages()) {
    const std::string_view first = text::biosCheckFormText(language).firstPiece;
    const std::string_view expected = language == DialogLanguage::Japanese ? " v"
                                      : language == DialogLanguage::Dutch  ? "-versie "
                                                                           : " V";
    EXPECT_EQ(first.substr(first.size() - expected.size()), expected) << languageName(language);
  }
}

TEST(DialogText, RetryIsSmallerOnlyWhereItsCaptionIsLong) {
  for (DialogLanguage language : allLanguages()) {
    const bool small = language == DialogLanguage::Finnish || language == DialogLanguage::Turkish ||
                       language == DialogLanguage::Czech || language == DialogLanguage::Portuguese ||
                       language == DialogLanguage::German;
    EXPECT_EQ(text::powerModeFormText(language).retryFontSizePt, small ? 10.0f : 12.0f)
        << languageName(language);
  }
}

// --- Support pages -----------------------------------------------------------

TEST(SupportSite, EveryLanguagesPagesWithAndWithoutAKnownBoard) {
  const std::string global = OVVB_GLOBAL_SUPPORT_ROOT;
  const std::string china = OVVB_CHINA_SUPPORT_ROOT;
  const std::array<std::string, kDialogLanguageCount> bases{
      global,         china,          global + "tw/", global + "cz/", global + "de/", global + "es/",
      global + "fi/", global + "fr/", global + "it/", global + "jp/", global + "kr/", global + "nl/",
      global + "no/", global + "pt/", global + "ru/", global + "se/", global + "tr/",
  };
  for (DialogLanguage language : allLanguages()) {
    SCOPED_TRACE(languageName(language));
    const std::string& base = bases[OvVBiosInstaller::languageIndex(language)];
    EXPECT_EQ(supportPageAddress(language, "KR15A", SupportPage::Bios),
              base + "supportonly/KR15A/Helpdesk_bios/");
    EXPECT_EQ(supportPageAddress(language, "KR15A", SupportPage::Download),
              base + "supportonly/KR15A/Helpdesk_download/");
    EXPECT_EQ(supportPageAddress(language, "UNKNOWN", SupportPage::Bios), base);
    EXPECT_EQ(supportPageAddress(language, "UNKNOWN", SupportPage::Download), base);
  }
  EXPECT_EQ(global.substr(0, 8), "https://");
  EXPECT_EQ(china.substr(0, 8), "https://");
  EXPECT_NE(global, china);
}

TEST(SupportSite, BoardNamesGoInUnchangedOnlyAQuoteIsEncodedForTheShell) {
  const std::string board = "KR 15&A#1%20\xC3\xBC";
  const std::string address = supportPageAddress(DialogLanguage::English, board, SupportPage::Bios);
  EXPECT_EQ(address, std::string(OVVB_GLOBAL_SUPPORT_ROOT) + "supportonly/" + board + "/Helpdesk_bios/");
  EXPECT_EQ(platform::shellSafeAddress(address), address);
  EXPECT_EQ(platform::shellSafeAddress("https://x/a\" --b \"c"), "https://x/a%22 --b %22c");
  // Case matters: only the exact default marks an unreadable board.
  EXPECT_NE(supportPageAddress(DialogLanguage::German, "unknown", SupportPage::Bios),
            std::string(OVVB_GLOBAL_SUPPORT_ROOT) + "de/");
}

}  // namespace
