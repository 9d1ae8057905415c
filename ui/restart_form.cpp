#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

bool RestartForm::restart = true;

RestartForm::RestartForm() : Form("RestartForm") {
  Text = kDialogTitle;
  makeActionButton(button1, kRightButtonBounds);  // No, or OK
  makeMinimizeButton(button2);
  makeActionButton(button3, kLeftButtonBounds);  // Yes
  safeButton = toolkit::ButtonId::Button1;
}

void RestartForm::OnLoad() {
  const text::RestartFormText& words = text::restartFormText();
  if (restart) {
    label1.Text = words.restartMessage;
    button3.Text = words.yes;
    button3.Visible = true;
    button1.Text = words.no;
  } else {
    // Nothing was flashed, so there is nothing to restart for: only OK, in
    // the right-hand place, and the left place stays empty.
    label1.Text = words.completedMessage;
    button3.Visible = false;
    button1.Text = words.ok;
  }
}

void RestartForm::OnClick(toolkit::ButtonId button) {
  // Yes does not close the dialog: the restart ends the program, and if it
  // does not come about, No still can.
  if (button == toolkit::ButtonId::Button1) Close();
}

}  // namespace OvVBiosInstaller
