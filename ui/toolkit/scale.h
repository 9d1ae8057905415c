// The dialogs are laid out in 96-DPI units, as on a display at 100 %: every
// backend that draws them on a display of another scale multiplies each
// size, position and font size by the display's DPI over 96, so the user sees
// the same dialog at any scale, only sharper.
#pragma once

#include <array>
#include <cstddef>

#include "ui/toolkit/form.h"

namespace toolkit {

inline constexpr int kBaseDpi = 96;
// What a window system may report, bounded: below 100 % Windows offers no
// scale, and far beyond 500 % a dialog would not fit any screen.
inline constexpr int kMinDpi = 96;
inline constexpr int kMaxDpi = 960;

int boundedDpi(int dpi);

// `value` at `dpi`, rounded half away from zero; a length that is not zero
// never scales to zero.
int scaleToDpi(int value, int dpi);
// Position and size each scaled on their own, so that a control is exactly
// as large as the picture made for its size at that scale.
Bounds scaleToDpi(const Bounds& bounds, int dpi);

// The scales, in percent, that the dialogs' pictures are made at
// (scripts/make-artwork.py), smallest first.
inline constexpr std::array<int, 5> kPictureScales{100, 125, 150, 175, 200};

// Which of kPictureScales to draw a picture `baseWidth` wide at 100 % from,
// into `targetWidth` pixels: the smallest made at least that wide, so that it
// is drawn at its own size or shrunk a little, never blown up; the largest
// where none is.
size_t pictureScaleFor(int targetWidth, int baseWidth);

}  // namespace toolkit
