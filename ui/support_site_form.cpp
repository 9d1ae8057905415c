#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"
#include "ui/support_site.h"

namespace OvVBiosInstaller {

SupportSiteForm::SupportSiteForm() : Form("SupportSiteForm") {
  Text = kDialogTitle;
  label1.TabIndex = 0;
  makeActionButton(button1, kRightButtonBounds, 1);  // OK
  makeMinimizeButton(button2, 7);
}

void SupportSiteForm::OnLoad() {
  TopMost = true;
  const text::SupportSiteFormText& words = text::supportSiteFormText(currentDialogLanguage());
  label1.Text = words.message;
  button1.Text = words.ok;
}

void SupportSiteForm::OnClick(toolkit::ButtonId button) {
  if (button != toolkit::ButtonId::Button1) return;
  // As for the BIOS page: the dialog closes whether or not a browser opened.
  openSupportPage(SupportPage::Download);
  Close();
}

// As for the BIOS page: nobody would see a browser started here.
void SupportSiteForm::OnAnsweredUnseen() { Close(); }

}  // namespace OvVBiosInstaller
