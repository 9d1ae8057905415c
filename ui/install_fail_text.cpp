#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

constexpr InstallFailText kEnglish{
    "\n\nUnable to perform VBIOS Upgrade. ",
    "\n\nUnable to perform VBIOS Upgrade. Please make sure the Kestrel is connected to the ",
    " and activated properly.", "OK"};

}  // namespace

const InstallFailText& installFailText() { return kEnglish; }

}  // namespace OvVBiosInstaller::text
