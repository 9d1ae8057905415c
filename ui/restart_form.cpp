#include "platform/shell.h"
#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

bool RestartForm::restart = true;

RestartForm::RestartForm() : Form("RestartForm") {
  Text = kDialogTitle;
  label1.TabIndex = 0;
  label1.AutoSize = true;                            // the message is short; it is never wrapped
  makeActionButton(button1, kRightButtonBounds, 1);  // No, or OK: focused first
  makeMinimizeButton(button2, 7);
  makeActionButton(button3, kLeftButtonBounds, 8);  // Yes
  safeButton = toolkit::ButtonId::Button1;
}

void RestartForm::OnLoad() {
  TopMost = true;
  const text::RestartFormText& words = text::restartFormText(currentDialogLanguage());
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
  if (button == toolkit::ButtonId::Button3) {
    // Yes does not close the dialog: the restart ends the program, and if it
    // does not come about (refused, or WMI unreachable), No still can. Each
    // press asks once more; nothing is logged or shown either way.
    platform::requestRestart();
  } else if (button == toolkit::ButtonId::Button1) {
    Close();
  }
}

}  // namespace OvVBiosInstaller
