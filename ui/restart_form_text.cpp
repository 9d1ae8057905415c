#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

constexpr RestartFormText kEnglish{"Attention\n\nUpdate completed, please restart the system.", "Yes", "No",
                                   "\n\nUpdate completed.", "OK"};

}  // namespace

const RestartFormText& restartFormText() { return kEnglish; }

}  // namespace OvVBiosInstaller::text
