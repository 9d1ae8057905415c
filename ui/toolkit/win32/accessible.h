// What a screen reader learns about the dialogs' owner-drawn buttons through
// Active Accessibility.
#pragma once

#include <windows.h>

namespace toolkit::win32 {

// The answer to WM_GETOBJECT for OBJID_CLIENT of an owner-drawn push button:
// the system's own description of the control (its caption as its name, its
// state, place and actions) with the role of a push button, which the
// system's description of an owner-drawn button does not always give (Wine
// calls it a plain window client). 0 where it cannot be made; the caller
// then leaves the message to the system.
LRESULT pushButtonObject(HWND button, WPARAM wParam);

}  // namespace toolkit::win32
