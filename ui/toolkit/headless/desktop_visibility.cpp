// The simulated session's desktop: machine.ini [user] desktop_visible = no
// stands for a deployment tool's session that no user sees.
#include "ui/toolkit/desktop_visibility.h"

#include "simulated/machine.h"

namespace toolkit {

bool DesktopVisible() { return simulated::MachineIni::load().getBool("user", "desktop_visible", true); }

void NoteAnsweredUnseen(const Form& form) {
  simulated::Trace("dialog.unseen")
      .str("form", form.className)
      .str("title", form.Text)
      .str("label1", form.label1.Text)
      .str("button", buttonName(form.safeButton))
      .write();
}

}  // namespace toolkit
