#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

constexpr BiosCheckFormText kEnglish{
    "\n\nBIOS version V",
    " or higher is required for the VBIOS update.\nPlease update the BIOS from \"Windows Update\", "
    "\"Software "
    "Update\" of Tessel, or download the \"BIOS Update\" package from Orvo support site directly.",
    "OK"};

}  // namespace

const BiosCheckFormText& biosCheckFormText() { return kEnglish; }

}  // namespace OvVBiosInstaller::text
