#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"
#include "ui/support_site.h"

namespace OvVBiosInstaller {

std::string BiosCheckForm::version = "1";

BiosCheckForm::BiosCheckForm() : Form("BiosCheckForm") {
  Text = kDialogTitle;
  TopMost = true;
  label1.TabIndex = 0;
  makeActionButton(button1, kRightButtonBounds, 1);  // OK
  makeMinimizeButton(button2, 7);
}

void BiosCheckForm::OnLoad() {
  const text::BiosCheckFormText& words = text::biosCheckFormText(currentDialogLanguage());
  // The version as the package wrote it, not the number the check used: a
  // leading zero or blank stays what the package author typed.
  label1.Text = std::string(words.firstPiece) + version + std::string(words.secondPiece);
  button1.Text = words.ok;
}

void BiosCheckForm::OnClick(toolkit::ButtonId button) {
  if (button != toolkit::ButtonId::Button1) return;
  // Whether a browser came up or not, the user can still find the page; the
  // dialog must close either way so the run can end.
  openSupportPage(SupportPage::Bios);
  Close();
}

// OK opens a web page for the user to read. Where no one can see the desktop
// (a deployment tool's system account) it would start a browser as that
// account in a session nobody sees, left running: the dialog only closes.
void BiosCheckForm::OnAnsweredUnseen() { Close(); }

}  // namespace OvVBiosInstaller
