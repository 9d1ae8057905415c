// What the dialogs share: the layout values and the board model name.
#pragma once

#include <string>

#include "ui/toolkit/form.h"

namespace OvVBiosInstaller {

inline constexpr const char* kDialogTitle = "Orvo VBIOS Installer";
inline constexpr const char* kUnknownBoardModel = "UNKNOWN";

inline constexpr toolkit::Bounds kLeftButtonBounds{250, 213, 175, 45};
inline constexpr toolkit::Bounds kRightButtonBounds{445, 213, 175, 45};
inline constexpr toolkit::Bounds kMinimizeButtonBounds{580, 0, 60, 40};
inline constexpr int kClientWidth = 640;
inline constexpr int kClientHeight = 288;

void makeActionButton(toolkit::Button& button, toolkit::Bounds bounds, int tabIndex);
void makeMinimizeButton(toolkit::Button& button, int tabIndex);

// BaseBoardProduct of the notebook, read afresh each time; "UNKNOWN" on any
// failure, a missing key or value included.
std::string boardModelName();

}  // namespace OvVBiosInstaller
