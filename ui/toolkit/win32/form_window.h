// A Form's window: its class, its controls and their layout at the window's
// DPI, and the window procedure that answers the system and the user.
#pragma once

#include <windows.h>

#include "ui/toolkit/win32/form_native.h"

namespace toolkit::win32 {

inline constexpr wchar_t kWindowClass[] = L"OvVBiosInstallerForm";

// Once per program; true when the class is there to create windows of.
bool registerWindowClass();

// The form's label, visible buttons and progress bar, in tab order, laid out
// at the window's DPI. False when one could not be created.
bool createControls(Form& form, HWND hwnd);

bool isButtonOf(const Form::Native& native, HWND control);
// The first control in tab order, or none.
HWND firstFocus(const Form::Native& native);

}  // namespace toolkit::win32
