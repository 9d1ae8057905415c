#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

constexpr InstallingFormText kEnglish{
    "Installing the VBIOS...\n\nDon't turn off your PC, unplug the power adapter, disconnect any devices, or "
    "adjust any settings during the installation process.",
    "Installing the VBIOS..."};

}  // namespace

const InstallingFormText& installingFormText() { return kEnglish; }

}  // namespace OvVBiosInstaller::text
