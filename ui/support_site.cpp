#include "ui/support_site.h"

#include <array>

#include "platform/shell.h"
#include "platform/system.h"
#include "ui/dialog_common.h"

// Build configuration (CMake: OVVB_GLOBAL_SUPPORT_ROOT, OVVB_CHINA_SUPPORT_ROOT).
#ifndef OVVB_GLOBAL_SUPPORT_ROOT
#error "OVVB_GLOBAL_SUPPORT_ROOT must be defined by the build"
#endif
#ifndef OVVB_CHINA_SUPPORT_ROOT
#error "OVVB_CHINA_SUPPORT_ROOT must be defined by the build"
#endif

namespace OvVBiosInstaller {

namespace {

constexpr std::string_view kGlobalRoot = OVVB_GLOBAL_SUPPORT_ROOT;
constexpr std::string_view kChinaRoot = OVVB_CHINA_SUPPORT_ROOT;

constexpr bool isSecureRoot(std::string_view root) {
  return root.size() > 9 && root.substr(0, 8) == "https://" && root.back() == '/';
}
static_assert(isSecureRoot(kGlobalRoot), "the global support site root must be https://.../");
static_assert(isSecureRoot(kChinaRoot), "the China support site root must be https://.../");

struct SiteRow {
  DialogLanguage language;
  bool china;
  std::string_view segment;
};

constexpr std::array<SiteRow, kDialogLanguageCount> kSites{{
    {DialogLanguage::English, false, ""},
    {DialogLanguage::SimplifiedChinese, true, ""},
    {DialogLanguage::TraditionalChinese, false, "tw/"},
    {DialogLanguage::Czech, false, "cz/"},
    {DialogLanguage::German, false, "de/"},
    {DialogLanguage::Spanish, false, "es/"},
    {DialogLanguage::Finnish, false, "fi/"},
    {DialogLanguage::French, false, "fr/"},
    {DialogLanguage::Italian, false, "it/"},
    {DialogLanguage::Japanese, false, "jp/"},
    {DialogLanguage::Korean, false, "kr/"},
    {DialogLanguage::Dutch, false, "nl/"},
    {DialogLanguage::Norwegian, false, "no/"},
    {DialogLanguage::Portuguese, false, "pt/"},
    {DialogLanguage::Russian, false, "ru/"},
    {DialogLanguage::Swedish, false, "se/"},
    {DialogLanguage::Turkish, false, "tr/"},
}};

static_assert(inLanguageOrder(kSites));

}  // namespace

std::string supportSiteBase(DialogLanguage language) {
  const SiteRow& site = rowFor(kSites, language);
  return std::string(site.china ? kChinaRoot : kGlobalRoot) + std::string(site.segment);
}

std::string supportPageAddress(DialogLanguage language, std::string_view boardModel, SupportPage page) {
  std::string address = supportSiteBase(language);
  if (boardModel == kUnknownBoardModel) return address;
  address += "supportonly/";
  address += boardModel;
  address += page == SupportPage::Bios ? "/Helpdesk_bios/" : "/Helpdesk_download/";
  return address;
}

std::string currentSupportPageAddress(SupportPage page) {
  return supportPageAddress(currentDialogLanguage(), boardModelName(), page);
}

void openSupportPage(SupportPage page) {
  const std::string address = currentSupportPageAddress(page);
  const platform::WebPageOpening opening = platform::openWebAddress(address);
  if (!opening.opened)
    platform::writeStandardOutput("WARNING the support page " + address + " was not opened: " + opening.reason +
                                  "\n");
}

}  // namespace OvVBiosInstaller
