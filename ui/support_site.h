// The maker's support pages for this notebook model, one site per region.
#pragma once

#include <string>
#include <string_view>

#include "ui/dialog_language.h"

namespace OvVBiosInstaller {

enum class SupportPage {
  Bios,      // ".../Helpdesk_bios/"
  Download,  // ".../Helpdesk_download/": the graphics driver
};

// The language's support site: the global or China root, then the
// language's region segment ("de/"; nothing for English and Simplified
// Chinese).
std::string supportSiteBase(DialogLanguage language);

// The page for a board model, the model inserted exactly as the BIOS names
// it; for "UNKNOWN" the site base itself, so the user still reaches the site.
std::string supportPageAddress(DialogLanguage language, std::string_view boardModel, SupportPage page);

}  // namespace OvVBiosInstaller
