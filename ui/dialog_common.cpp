#include "ui/dialog_common.h"

#include "platform/registry.h"

namespace OvVBiosInstaller {

void makeActionButton(toolkit::Button& button, toolkit::Bounds bounds, int tabIndex) {
  button.Visible = true;
  button.IsMinimize = false;
  button.bounds = bounds;
  button.TabIndex = tabIndex;
}

void makeMinimizeButton(toolkit::Button& button, int tabIndex) {
  button.Visible = true;
  button.IsMinimize = true;
  button.Text.clear();
  button.bounds = kMinimizeButtonBounds;
  button.TabIndex = tabIndex;
}

std::string boardModelName() {
  const platform::RegistryString read = platform::readRegistryString(
      "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS", "BaseBoardProduct");
  if (read.status != platform::RegistryStatus::Ok) return kUnknownBoardModel;
  return read.value;
}

}  // namespace OvVBiosInstaller
