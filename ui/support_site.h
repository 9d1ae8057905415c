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

// The page as a dialog's OK opens it now: the language and board model name
// read afresh.
std::string currentSupportPageAddress(SupportPage page);

// OK of the BIOS and driver dialogs: hands the page to the desktop's shell.
// A page not opened is said on standard output (the driver dialog comes
// after the run's state line) and traced by a simulated machine; the
// sequence has logged the reason before the dialog when it could know it.
void openSupportPage(SupportPage page);

}  // namespace OvVBiosInstaller
