// The dialogs' PNG pictures, carried as resources of the program and decoded
// once with GDI+.
#pragma once

#include <windows.h>

namespace toolkit::win32 {

enum class Picture { Background, ButtonPlate, MinimizeGlyph };

// Draws `picture` stretched to `target` over what `dc` already holds, its
// transparent parts letting that show through. False, drawing nothing, when
// the picture is not in the program's resources or cannot be decoded.
bool drawPicture(HDC dc, Picture picture, const RECT& target);

}  // namespace toolkit::win32
