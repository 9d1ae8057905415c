#include "ui/dialog_common.h"

#include "platform/registry.h"

namespace OvVBiosInstaller {

void makeActionButton(toolkit::Button& button, toolkit::Bounds bounds) {
  button.Visible = true;
  button.IsMinimize = false;
  button.bounds = bounds;
}

void makeMinimizeButton(toolkit::Button& button) {
  button.Visible = true;
  button.IsMinimize = true;
  button.Text.clear();
  button.bounds = kMinimizeButtonBounds;
}

std::string boardModelName() {
  const platform::RegistryString read = platform::readRegistryString(
      "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\BIOS", "BaseBoardProduct");
  if (read.status != platform::RegistryStatus::Ok) return kUnknownBoardModel;
  return read.value;
}

}  // namespace OvVBiosInstaller
