#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

SupportSiteForm::SupportSiteForm() : Form("SupportSiteForm") {
  Text = kDialogTitle;
  makeActionButton(button1, kRightButtonBounds);  // OK
  makeMinimizeButton(button2);
}

void SupportSiteForm::OnLoad() {
  const text::SupportSiteFormText& words = text::supportSiteFormText();
  label1.Text = words.message;
  button1.Text = words.ok;
}

void SupportSiteForm::OnClick(toolkit::ButtonId button) {
  if (button == toolkit::ButtonId::Button1) Close();
}

}  // namespace OvVBiosInstaller
