#include "hardware/power.h"
#include "platform/system.h"
#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

int32_t PowerModeForm::results = 1;

PowerModeForm::PowerModeForm() : Form("PowerModeForm") {
  Text = kDialogTitle;
  label1.TabIndex = 0;
  makeActionButton(button1, kLeftButtonBounds, 1);  // Retry
  // Cancel comes first in the focus order: Enter alone never flashes.
  makeActionButton(button2, kRightButtonBounds, 0);
  makeMinimizeButton(button3, 7);
  safeButton = toolkit::ButtonId::Button2;
}

void PowerModeForm::OnLoad() {
  TopMost = true;
  const text::PowerModeFormText& words = text::powerModeFormText(currentDialogLanguage());
  button1.FontSizePt = words.retryFontSizePt;
  label1.Text = words.message;
  button1.Text = words.retry;
  button2.Text = words.cancel;
}

void PowerModeForm::OnClick(toolkit::ButtonId button) {
  if (button == toolkit::ButtonId::Button1) {
    // The dialog gets out of the way for a second, so the user sees that
    // Retry did something, then the power line is read once.
    SetClientSize(1, 1);
    platform::sleepMs(1000);
    SetClientSize(kClientWidth, kClientHeight);
    // Unknown is not mains power here, unlike at the sequence's own check.
    if (hardware::acLineStatus() == hardware::kAcOnline) {
      results = 1;
      Close();
    }
  } else if (button == toolkit::ButtonId::Button2) {
    results = 0;
    Close();
  }
}

}  // namespace OvVBiosInstaller
