#include "ui/toolkit/scale.h"

#include <algorithm>
#include <cstdint>

namespace toolkit {

int boundedDpi(int dpi) { return std::clamp(dpi, kMinDpi, kMaxDpi); }

int scaleToDpi(int value, int dpi) {
  const int64_t product = static_cast<int64_t>(value) * boundedDpi(dpi);
  const int64_t half = kBaseDpi / 2;
  const auto scaled =
      static_cast<int>(product >= 0 ? (product + half) / kBaseDpi : (product - half) / kBaseDpi);
  if (scaled == 0 && value != 0) return value > 0 ? 1 : -1;
  return scaled;
}

Bounds scaleToDpi(const Bounds& bounds, int dpi) {
  return Bounds{scaleToDpi(bounds.x, dpi), scaleToDpi(bounds.y, dpi), scaleToDpi(bounds.width, dpi),
                scaleToDpi(bounds.height, dpi)};
}

size_t pictureScaleFor(int targetWidth, int baseWidth) {
  for (size_t i = 0; i < kPictureScales.size(); ++i) {
    // The width the artwork script gives the picture at this scale.
    const int made = (baseWidth * kPictureScales[i] + 50) / 100;
    if (made >= targetWidth) return i;
  }
  return kPictureScales.size() - 1;
}

}  // namespace toolkit
