#include "common/result_codes.h"
#include "ui/dialog_common.h"
#include "ui/dialog_text.h"
#include "ui/dialogs.h"

namespace OvVBiosInstaller {

int32_t InstallFail::errorNum = 0;
std::string InstallFail::VbType = "NV";

InstallFail::InstallFail() : Form("InstallFail") {
  Text = "InstallFail";
  label1.TabIndex = 1;
  makeActionButton(button1, kRightButtonBounds, 2);  // OK
  makeMinimizeButton(button2, 8);
}

void InstallFail::OnLoad() {
  TopMost = true;
  const std::string boardModel = boardModelName();
  const text::InstallFailText& words = text::installFailText(currentDialogLanguage());
  // The failure text ends with its own separator (a blank, or nothing).
  std::string message(words.failure);
  if (errorNum != 0) message += "(" + std::to_string(errorNum) + ")";
  // A dock package that finds no dock GPU on a known notebook: most likely
  // the dock is not connected or not switched on, which the user can fix.
  if (errorNum == result::kHwidNotFound && (VbType == "KRNV" || VbType == "KRAMD") &&
      boardModel != kUnknownBoardModel) {
    message = std::string(words.connectionFirstPiece) + boardModel + std::string(words.connectionSecondPiece);
  }
  label1.Text = message;
  button1.Text = words.ok;
}

void InstallFail::OnClick(toolkit::ButtonId button) {
  if (button == toolkit::ButtonId::Button1) Close();
}

}  // namespace OvVBiosInstaller
