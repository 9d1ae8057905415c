#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

constexpr SupportSiteFormText kEnglish{
    "Warning\n\nPlease go to the official website to download and install the latest Graphic driver to "
    "continue.",
    "OK"};

}  // namespace

const SupportSiteFormText& supportSiteFormText() { return kEnglish; }

}  // namespace OvVBiosInstaller::text
