#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

std::string BiosCheckForm::version = "1";

BiosCheckForm::BiosCheckForm() : Form("BiosCheckForm") {
  Text = kDialogTitle;
  makeActionButton(button1, kRightButtonBounds);  // OK
  makeMinimizeButton(button2);
}

void BiosCheckForm::OnLoad() {
  const text::BiosCheckFormText& words = text::biosCheckFormText();
  // The version as the package wrote it, not the number the check used: a
  // leading zero or blank stays what the package author typed.
  label1.Text = std::string(words.firstPiece) + version + std::string(words.secondPiece);
  button1.Text = words.ok;
}

void BiosCheckForm::OnClick(toolkit::ButtonId button) {
  if (button == toolkit::ButtonId::Button1) Close();
}

}  // namespace OvVBiosInstaller
