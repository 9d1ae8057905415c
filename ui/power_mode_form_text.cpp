#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

constexpr PowerModeFormText kEnglish{
    "Warning\n\nThe AC adapter must be plugged in before upgrading VBIOS.\n[Retry] After AC adapter is "
    "plugged "
    "in.\n[Cancel] To cancel VBIOS upgrade process.",
    "Retry", "Cancel"};

}  // namespace

const PowerModeFormText& powerModeFormText() { return kEnglish; }

}  // namespace OvVBiosInstaller::text
