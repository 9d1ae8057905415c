// How a Form is drawn: its pictures composed once per DPI, then painted by
// plain copying, with the label's and buttons' text drawn over them.
#pragma once

#include <windows.h>

#include <string>

#include "ui/toolkit/win32/form_native.h"

namespace toolkit::win32 {

// The system's DPI: what a window is drawn at where the system cannot say
// per window.
int systemDpi();
// The DPI of the monitor the window is on, or the system's.
int windowDpi(HWND hwnd);

// The size `text` takes in `font` on its lines as written, never wrapped.
SIZE textSize(HFONT font, const std::wstring& text);

// The background and every created button's faces at the window's DPI.
void composePictures(Form& form);

// The window's background, from its top left corner.
void paintBackground(const Form::Native& native, HDC dc, int width, int height);
// WM_DRAWITEM: the label or a button.
void drawItem(Form& form, const DRAWITEMSTRUCT& item);

}  // namespace toolkit::win32
